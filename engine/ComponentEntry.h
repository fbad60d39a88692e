#pragma once

#include <cstdint>
#include <string>

#include "images/CBinFile.h"
#include "wire/ImageType.h"

// Component indexes: the image type code of the component's image, as an index.
constexpr int COMPONENT_BOOT = IMG_BOOT;
constexpr int COMPONENT_APP = IMG_APP;
constexpr int COMPONENT_CUSTOMIZATION = IMG_CUSTOMIZATION;
constexpr int COMPONENT_COMMON_HTML = IMG_COMMON_HTML;
constexpr int COMPONENT_SPECIAL_HTML = IMG_SPECIAL_HTML;
constexpr int COMPONENT_APP_B = IMG_APP_B;
constexpr int COMPONENT_CONFIG_FILE = IMG_CONFIG_FILE;
constexpr int COMPONENT_FIRMWARE = IMG_FIRMWARE;
constexpr int COMPONENT_DASHBOARD = IMG_DASHBOARD;
constexpr int COMPONENT_NONE = IMG_NONE;
constexpr int COMPONENT_COUNT = IMG_TYPE_COUNT;

// String-table id of each component's type name, by component index.
constexpr uint32_t COMPONENT_TYPE_NAME_IDS[COMPONENT_COUNT] = {147, 148, 149, 159, 160, 148, 161, 150, 151};
// Resource id of each component's embedded image, by component index.
constexpr uint32_t COMPONENT_RESOURCE_IDS[COMPONENT_COUNT] = {148, 144, 147, 160, 161, 162, 163, 146, 145};

// One upgradable component: its image, the version last read from the router, whether the
// check allows the upgrade, and its display name.
struct ComponentEntry {
    std::string m_CurrentVersion; // read by the last check; empty before
    CBinFile m_Image;             // the upgrade image; usable when valid
    int m_UpgradeFlag = 0;        // 1 = will be upgraded, 0 = version does not match
    std::string m_TypeName;       // loaded from the string table at start
    // An image was found for this component but is damaged (m_Image is then not valid):
    // the first check it failed. The check fails in this component's row.
    std::string m_ImageProblem;
};

// The process-wide table of COMPONENT_COUNT entries, indexed by component index.
ComponentEntry* GetComponentTable();
