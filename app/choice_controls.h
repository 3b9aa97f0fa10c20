// The main dialog's controls for the converter's choices: each table's
// radio and Edit button, each speed-sensor radio and the code it stands
// for. What the choices are, their names, titles and labels, is
// config/converter_choices.h.
#pragma once

#include "app/resource_ids.h"
#include "config/config_image.h"

#include <cstdint>

struct TableControls {
    uint8_t offset;  // the table, as in tableInfos
    int radio;
    int editButton;
};

// In the order ControlsToImage tests the radios.
constexpr TableControls tableControls[] = {
    {layout::tableAp1Res, IDC_TABLE_AP1_RES, IDC_EDIT_AP1_RES},
    {layout::tableAp2Res, IDC_TABLE_AP2_RES, IDC_EDIT_AP2_RES},
    {layout::tableAp1_5V, IDC_TABLE_AP1_5V, IDC_EDIT_AP1_5V},
    {layout::tableAp2_5V, IDC_TABLE_AP2_5V, IDC_EDIT_AP2_5V},
};

struct SensorRadio {
    int radio;
    uint16_t code;  // the speedSensorCode it stands for, whatever the unit type
};

constexpr SensorRadio sensorRadios[] = {
    {IDC_SENSOR_HIGH_TO_LOW, layout::sensorHighToLow},
    {IDC_SENSOR_LOW_FREQ, layout::sensorLowFreq},
    {IDC_SENSOR_HIGH_FREQ, layout::sensorHighFreq},
};
