#include "settings/visionSettings.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <type_traits>

namespace {

// Field types as the pipeline and the configuration file rely on them.
static_assert(std::is_same_v<decltype(visionSettingsRecord::visionOn), bool>);
static_assert(std::is_same_v<decltype(visionSettingsRecord::calibrationStep), std::int32_t>);
static_assert(std::is_same_v<decltype(visionSettingsRecord::happyLevel), double>);
static_assert(std::is_same_v<decltype(visionSettingsRecord::surpriseLevel), double>);
static_assert(std::is_same_v<decltype(visionSettingsRecord::minObjectSize), std::uint32_t>);
static_assert(std::is_same_v<decltype(visionSettingsRecord::modelModes), float>);
static_assert(std::is_same_v<decltype(visionSettingsRecord::modelMinBrightness), float>);

struct initialValue {
    const char* field;
    std::function<double(const visionSettingsRecord&)> read;
    double expected;
};

// Every field with the value it holds from program start until the
// configuration is loaded. Levels are compared exactly: 0.2 is the double 0.2.
const initialValue initialValues[] = {
    {"visionOn", [](const visionSettingsRecord& s) { return s.visionOn ? 1.0 : 0.0; }, 1.0},
    {"calibrationStep", [](const visionSettingsRecord& s) { return double(s.calibrationStep); }, 0.0},
    {"reinitialiseRequested", [](const visionSettingsRecord& s) { return s.reinitialiseRequested ? 1.0 : 0.0; }, 0.0},
    {"drawBox", [](const visionSettingsRecord& s) { return s.drawBox ? 1.0 : 0.0; }, 0.0},
    {"drawCross", [](const visionSettingsRecord& s) { return s.drawCross ? 1.0 : 0.0; }, 0.0},
    {"drawBinary", [](const visionSettingsRecord& s) { return s.drawBinary ? 1.0 : 0.0; }, 0.0},
    {"emotionsOn", [](const visionSettingsRecord& s) { return s.emotionsOn ? 1.0 : 0.0; }, 0.0},
    {"happyLevel", [](const visionSettingsRecord& s) { return s.happyLevel; }, 0.2},
    {"sadLevel", [](const visionSettingsRecord& s) { return s.sadLevel; }, 0.5},
    {"angerLevel", [](const visionSettingsRecord& s) { return s.angerLevel; }, 0.5},
    {"surpriseLevel", [](const visionSettingsRecord& s) { return s.surpriseLevel; }, 0.5},
    {"minObjectSize", [](const visionSettingsRecord& s) { return double(s.minObjectSize); }, 0.0},
    {"modelModes", [](const visionSettingsRecord& s) { return double(s.modelModes); }, 0.0},
    {"modelMatchDeviations", [](const visionSettingsRecord& s) { return double(s.modelMatchDeviations); }, 0.0},
    {"modelLearningRate", [](const visionSettingsRecord& s) { return double(s.modelLearningRate); }, 0.0},
    {"modelBackgroundWeight", [](const visionSettingsRecord& s) { return double(s.modelBackgroundWeight); }, 0.0},
    {"modelInitialDeviation", [](const visionSettingsRecord& s) { return double(s.modelInitialDeviation); }, 0.0},
    {"modelMinBrightness", [](const visionSettingsRecord& s) { return double(s.modelMinBrightness); }, 0.0},
};

TEST(visionSettingsInitial, ProcessWideRecordStartsWithTheInitialValues) {
    // Nothing in this program loads the configuration, so the record still
    // holds what static initialisation gave it.
    for (const initialValue& v : initialValues)
        EXPECT_EQ(v.read(visionSettings), v.expected) << v.field;
}

TEST(visionSettingsInitial, FreshRecordHasTheSameValues) {
    const visionSettingsRecord fresh;
    for (const initialValue& v : initialValues)
        EXPECT_EQ(v.read(fresh), v.expected) << v.field;
}

TEST(visionSettingsInitial, TableCoversEveryField) {
    // A field added to the record without an initial value here would slip
    // through; the record is plain data, so its size tracks its fields.
    struct expectedLayout {
        bool visionOn;
        std::int32_t calibrationStep;
        bool reinitialiseRequested, drawBox, drawCross, drawBinary, emotionsOn;
        double happyLevel, sadLevel, angerLevel, surpriseLevel;
        std::uint32_t minObjectSize;
        float modelModes, modelMatchDeviations, modelLearningRate, modelBackgroundWeight,
            modelInitialDeviation, modelMinBrightness;
    };
    EXPECT_EQ(sizeof(visionSettingsRecord), sizeof(expectedLayout));
    EXPECT_EQ(std::size(initialValues), 18u);
}

} // namespace
