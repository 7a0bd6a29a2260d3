#include "runner/messageTee.h"

#include <thread>
#include <utility>

messageTee::messageTee(std::shared_ptr<datagramTransport> inner, std::ostream* lines, observer watch)
    : inner_(std::move(inner)), lines_(lines), watch_(std::move(watch)) {}

sendResult messageTee::send(const char* bytes, std::size_t count) {
    sendResult result{true, false, count, 0};
    if (inner_) {
        result = inner_->send(bytes, count);
        if (result.ok && result.dropped && waitLimit_.count() > 0) {
            const auto deadline = std::chrono::steady_clock::now() + waitLimit_;
            while (result.ok && result.dropped && std::chrono::steady_clock::now() < deadline) {
                std::this_thread::sleep_for(std::chrono::microseconds(200));
                result = inner_->send(bytes, count);
            }
            if (result.dropped) {
                waitLimit_ = std::chrono::milliseconds(0);
                gaveUp_ = true;
            }
        }
    }
    ++seen_;
    // The datagram ends with one zero byte; the line shows the text only.
    std::string_view text(bytes, count);
    if (!text.empty() && text.back() == '\0')
        text.remove_suffix(1);
    // A failed write ends the process in the channel; it was never sent.
    if (lines_ && result.ok) {
        lines_->write(text.data(), static_cast<std::streamsize>(text.size()));
        *lines_ << '\n';
        lines_->flush();
    }
    if (watch_)
        watch_(text, result);
    return result;
}
