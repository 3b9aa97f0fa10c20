#include "protocol/register_operations.h"

#include "protocol/operation_cut_off.h"
#include "protocol/register_calls.h"

int ReadIdentityWords(ReportTransport &port, uint16_t &version, uint16_t &type)
{
    uint16_t unused = 0;
    const uint8_t addresses[3] = {layout::firmwareVersion, layout::firmwareType, 255};
    uint16_t *words[3] = {&version, &type, &unused};
    for (int i = 0; i < 3; ++i)
        if (OperationCutOff() || !ReadRegisterWord(port, addresses[i], *words[i]))
            return i + 1;
    return 0;
}

namespace {

// Runs `step` on each address in turn, telling `done` of each that
// succeeded; false at the first that fails or at a cut-off, whose address
// `failedAddress` then holds.
template <class Step>
bool EachRegister(const std::vector<uint8_t> &addresses, Step step, const RegisterDone &done, int &failedAddress)
{
    for (uint8_t at : addresses) {
        if (OperationCutOff() || !step(at)) {
            failedAddress = at;
            return false;
        }
        if (done)
            done(at);
    }
    return true;
}

}  // namespace

bool ReadAllRegisters(ReportTransport &port, RegisterImage &image, const RegisterDone &done, int &failedAddress)
{
    const auto read = [&](uint8_t at) {
        uint8_t value = 0;
        if (!ReadRegister(port, at, value))
            return false;
        image.SetByte(at, value);
        return true;
    };
    return EachRegister(AddressesFrom(0), read, done, failedAddress);
}

bool WriteImageRegisters(ReportTransport &port, const RegisterImage &image, const std::vector<uint8_t> &addresses,
                         const RegisterDone &done, int &failedAddress)
{
    const auto write = [&](uint8_t at) { return WriteRegister(port, at, image.Byte(at)); };
    return EachRegister(addresses, write, done, failedAddress);
}

std::vector<uint8_t> AddressesFrom(int first)
{
    std::vector<uint8_t> addresses;
    for (int address = first; address < 256; ++address)
        addresses.push_back(static_cast<uint8_t>(address));
    return addresses;
}
