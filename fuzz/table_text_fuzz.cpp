// Fuzz target: the table editor's text checks. The first input byte picks the
// table and its count, the rest is the edited text. Beyond the sanitizers,
// every accepted text must obey the stored-table rules and survive a
// show-then-read round trip unchanged.
#include "config/config_image.h"
#include "config/default_images.h"
#include "config/table_text.h"
#include "fuzz/fuzz_require.h"

#include <cstdint>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    static const uint8_t offsets[] = {layout::tableAp1Res, layout::tableAp2Res, layout::tableAp1_5V,
                                      layout::tableAp2_5V};
    static const uint8_t counts[] = {7, 20, 0xFF, 0, 8};
    const uint8_t offset = offsets[data[0] & 3];
    RegisterImage image;
    image.LoadPrefix(defaultVssEct12300, sizeof defaultVssEct12300);
    image.SetByte(offset, counts[(data[0] >> 2) % sizeof counts]);
    const RegisterImage before = image;

    const std::string text(reinterpret_cast<const char *>(data + 1), size - 1);  // up to a NUL, as the edit control
    const TableTextOutcome outcome = ParseTableLines(image, offset, text.c_str());
    Require(std::memcmp(image.bytes, before.bytes, imageSize) == 0);
    Require(TableTextMessage(outcome).empty() == (outcome.problem == TableTextProblem::None));
    if (outcome.problem != TableTextProblem::None) {
        StoreTableMillivolts(image, offset, outcome);
        Require(std::memcmp(image.bytes, before.bytes, imageSize) == 0);
        return 0;
    }

    Require(TableEditable(image, offset));
    Require(outcome.count == image.Byte(offset));
    Require(outcome.millivolts[0] == fullScaleMillivolts);
    for (unsigned i = 1; i < outcome.count; ++i)
        Require(outcome.millivolts[i] < outcome.millivolts[i - 1]);

    StoreTableMillivolts(image, offset, outcome);
    for (unsigned at = 0; at < imageSize; ++at) {
        const unsigned first = offset + 1u;
        const bool voltageByte = at >= first && at < first + 4u * outcome.count && (at - first) % 4 < 2;
        if (!voltageByte)
            Require(image.bytes[at] == before.bytes[at]);
    }
    std::string shown;
    Require(BuildTableText(image, offset, shown));
    const TableTextOutcome again = ParseTableLines(image, offset, shown.c_str());
    Require(again.problem == TableTextProblem::None);
    Require(std::memcmp(again.millivolts, outcome.millivolts, sizeof outcome.millivolts) == 0);
    return 0;
}
