#include "settings/visionSettings.h"

visionSettingsRecord visionSettings;
