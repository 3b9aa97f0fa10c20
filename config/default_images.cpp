#include "config/default_images.h"

#include "config/config_image.h"

// The byte layout of every image follows the register map: a 12-byte header,
// then the temperature tables at their fixed offsets. The 5V tables of the
// VSS image repeat the RES tables; those of the VSS+ECT image have voltages
// of their own over the same paired values. The macros below write each
// image from those parts, so every paired value and voltage stands once.

// A 16-bit field, low byte first.
#define IMAGE_U16(value) uint8_t((value)&0xFF), uint8_t((value) >> 8)

// A table entry: millivolts, then pairedValue.
#define IMAGE_ENTRY(millivolts, pairedValue) IMAGE_U16(millivolts), IMAGE_U16(pairedValue)

// reserved0, firmwareVersion, firmwareType, sensorWiring 0, speedAdjust 0,
// speedSensorCode, reserved10, activeTable: the AP1 RES table.
#define IMAGE_HEADER(version, type, sensorCode)                                                                        \
    0x00, IMAGE_U16(version), IMAGE_U16(type), 0x00, IMAGE_U16(0), IMAGE_U16(sensorCode), 0x00, layout::tableAp1Res

// An AP2 table: its count, then the millivolts of each of its 20 paired values.
#define IMAGE_AP2_TABLE(m1, m2, m3, m4, m5, m6, m7, m8, m9, m10, m11, m12, m13, m14, m15, m16, m17, m18, m19, m20)     \
    20, IMAGE_ENTRY(m1, 1296), IMAGE_ENTRY(m2, 1195), IMAGE_ENTRY(m3, 1157), IMAGE_ENTRY(m4, 1117),                    \
        IMAGE_ENTRY(m5, 1075), IMAGE_ENTRY(m6, 1034), IMAGE_ENTRY(m7, 988), IMAGE_ENTRY(m8, 833),                      \
        IMAGE_ENTRY(m9, 683), IMAGE_ENTRY(m10, 647), IMAGE_ENTRY(m11, 601), IMAGE_ENTRY(m12, 538),                     \
        IMAGE_ENTRY(m13, 477), IMAGE_ENTRY(m14, 415), IMAGE_ENTRY(m15, 353), IMAGE_ENTRY(m16, 306),                    \
        IMAGE_ENTRY(m17, 276), IMAGE_ENTRY(m18, 245), IMAGE_ENTRY(m19, 150), IMAGE_ENTRY(m20, 99)

// An AP1 table: its count, then the millivolts of each of its 7 paired values.
#define IMAGE_AP1_TABLE(m1, m2, m3, m4, m5, m6, m7)                                                                    \
    7, IMAGE_ENTRY(m1, 1297), IMAGE_ENTRY(m2, 1197), IMAGE_ENTRY(m3, 1034), IMAGE_ENTRY(m4, 553),                      \
        IMAGE_ENTRY(m5, 368), IMAGE_ENTRY(m6, 274), IMAGE_ENTRY(m7, 182)

// The RES tables, at 12 and 93; the VSS image repeats them as its 5V tables.
#define IMAGE_AP2_RES                                                                                                  \
    IMAGE_AP2_TABLE(4000, 1111, 754, 616, 471, 370, 275, 204, 160, 124, 102, 93, 86, 79, 75, 71, 66, 65, 63, 57)
#define IMAGE_AP1_RES IMAGE_AP1_TABLE(4000, 370, 124, 93, 86, 72, 62)

// The 5V tables of the VSS+ECT image, at 122 and 203.
#define IMAGE_AP2_5V_ECT                                                                                               \
    IMAGE_AP2_TABLE(4000, 3101, 1763, 1506, 1302, 1138, 1002, 890, 795, 715, 647, 616, 588, 561, 536, 522, 509, 496,   \
                    483, 471)
#define IMAGE_AP1_5V_ECT IMAGE_AP1_TABLE(4000, 1138, 715, 616, 588, 536, 492)

// Every image starts with its header and the RES tables.
#define IMAGE_HEADER_AND_RES(version, type, sensorCode)                                                                \
    IMAGE_HEADER(version, type, sensorCode), IMAGE_AP2_RES, IMAGE_AP1_RES

const uint8_t defaultVss10005[defaultImageLength10005] = {
    IMAGE_HEADER_AND_RES(layout::firmware10005, layout::typeVss, layout::sensorHighToLow)};
const uint8_t defaultVssEct10005[defaultImageLength10005] = {
    IMAGE_HEADER_AND_RES(layout::firmware10005, layout::typeVssEct, layout::sensorLowFreq)};
const uint8_t defaultVss12300[defaultImageLength12300] = {
    IMAGE_HEADER_AND_RES(layout::firmware12300, layout::typeVss, layout::sensorHighToLow), IMAGE_AP2_RES,
    IMAGE_AP1_RES};
const uint8_t defaultVssEct12300[defaultImageLength12300] = {
    IMAGE_HEADER_AND_RES(layout::firmware12300, layout::typeVssEct, layout::sensorLowFreq), IMAGE_AP2_5V_ECT,
    IMAGE_AP1_5V_ECT};

DefaultImage FindDefaultImage(uint16_t firmwareVersion, uint16_t firmwareType)
{
    struct Row {
        uint16_t version;
        uint16_t type;
        DefaultImage image;
    };
    static const Row rows[] = {
        {layout::firmware10005, layout::typeVss, {defaultVss10005, defaultImageLength10005}},
        {layout::firmware10005, layout::typeVssEct, {defaultVssEct10005, defaultImageLength10005}},
        {layout::firmware12300, layout::typeVss, {defaultVss12300, defaultImageLength12300}},
        {layout::firmware12300, layout::typeVssEct, {defaultVssEct12300, defaultImageLength12300}},
    };
    for (const Row &row : rows)
        if (row.version == firmwareVersion && row.type == firmwareType)
            return row.image;
    return {};
}

DefaultImage FormatDefaultImage(bool hasEct, bool blackConnector)
{
    return FindDefaultImage(blackConnector ? layout::firmware12300 : layout::firmware10005,
                            hasEct ? layout::typeVssEct : layout::typeVss);
}
