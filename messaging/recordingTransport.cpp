#include "messaging/recordingTransport.h"

#include <cerrno>

#include "messaging/messageStream.h"

sendResult recordingTransport::send(const char* bytes, std::size_t count) {
    if (failNext_ != 0) {
        const int error = failNext_;
        failNext_ = 0;
        return {false, false, 0, error};
    }
    if (fullQueue_) {
        ++dropped_;
        return {true, true, 0, EAGAIN};
    }
    datagrams_.emplace_back(bytes, count);
    return {true, false, count, 0};
}

std::vector<std::string> recordingTransport::texts() const {
    std::vector<std::string> result;
    result.reserve(datagrams_.size());
    for (const std::string& d : datagrams_)
        result.push_back(d.empty() ? d : d.substr(0, d.size() - 1));
    return result;
}

scopedMessageCapture::scopedMessageCapture() : scopedMessageCapture(messageStream) {}

scopedMessageCapture::scopedMessageCapture(mailslotStream& stream, std::uint32_t firstSequence)
    : stream_(stream), recorder_(std::make_shared<recordingTransport>()) {
    previous_ = stream_.setTransport(recorder_);
    previousSequence_ = stream_.sequence;
    stream_.resetSequence(firstSequence);
}

scopedMessageCapture::~scopedMessageCapture() {
    stream_.setTransport(previous_);
    stream_.resetSequence(previousSequence_);
}
