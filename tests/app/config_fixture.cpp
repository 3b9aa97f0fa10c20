#include "tests/app/config_fixture.h"

#include "app/resource_ids.h"
#include "config/config_image.h"
#include "config/table_text.h"

#include <doctest.h>

#include <cstring>

Registers DefaultRegisters(uint16_t version, uint16_t type)
{
    Registers registers;
    registers.fill(0xFF);
    const DefaultImage image = FindDefaultImage(version, type);
    REQUIRE(image.bytes != nullptr);
    std::memcpy(registers.data(), image.bytes, image.length);
    return registers;
}

Registers ImageBytes()
{
    Registers bytes;
    std::memcpy(bytes.data(), ConfigImage.bytes, bytes.size());
    return bytes;
}

sim::SimDevice &PlugConverter(const Registers &registers)
{
    sim::SimBus &bus = sim::SimBus::Instance();
    bus.Reset();
    sim::SimDevice &converter = bus.AddConverter();
    converter.SetRegisters(registers);
    return converter;
}

void ReadConverter(DialogDriver &driver)
{
    driver.ClickAndWait(IDC_READ_DEVICE);
    REQUIRE(driver.Text(IDC_STATUS).rfind(" Read OK", 0) == 0);
}

bool NothingWritten(sim::SimDevice &device)
{
    for (int address = 0; address < 256; ++address)
        if (device.WritesTo(address) != 0)
            return false;
    return true;
}

Editor OpenEditor(DialogDriver &driver, int editButton, const std::string &caption)
{
    driver.Click(editButton);
    Editor editor;
    editor.window = WaitForBox(caption).window;
    REQUIRE_MESSAGE(editor.window != nullptr, "no editor \"", caption, "\"");
    return editor;
}

std::string TableTextOf(const Registers &registers, uint8_t offset)
{
    RegisterImage image;
    std::memcpy(image.bytes, registers.data(), registers.size());
    std::string text;
    REQUIRE(BuildTableText(image, offset, text));
    return text;
}
