#include "protocol/register_stages.h"

namespace {

struct StageRow {
    RegisterCallKind kind;
    int stage;
    const char *text;
};

// Every stage of every call, once.
constexpr StageRow stageTexts[] = {
    {RegisterCallKind::readByte, stage::readRequest, "sending the read request"},
    {RegisterCallKind::readByte, stage::readReply, "receiving the reply (the converter did not answer)"},
    {RegisterCallKind::readWord, stage::lowReadRequest, "sending the low read request"},
    {RegisterCallKind::readWord, stage::lowReadReply, "receiving the low reply (the converter did not answer)"},
    {RegisterCallKind::readWord, stage::highReadRequest, "sending the high read request"},
    {RegisterCallKind::readWord, stage::highReadReply, "receiving the high reply (the converter did not answer)"},
    {RegisterCallKind::writeByte, stage::writeRequest, "sending the write request"},
    {RegisterCallKind::writeByte, stage::readBackRequest, "sending the read-back request"},
    {RegisterCallKind::writeByte, stage::readBackReply, "receiving the read-back reply (the converter did not answer)"},
    {RegisterCallKind::writeByte, stage::readBackDiffers, "the value read back differs from the value written"},
    {RegisterCallKind::writeWord, stage::lowWriteRequest, "sending the low write request"},
    {RegisterCallKind::writeWord, stage::highWriteRequest, "sending the high write request"},
    {RegisterCallKind::writeWord, stage::lowReadBackRequest, "sending the low read-back request"},
    {RegisterCallKind::writeWord, stage::lowReadBackReply,
     "receiving the low read-back reply (the converter did not answer)"},
    {RegisterCallKind::writeWord, stage::lowReadBackDiffers, "the low value read back differs from the value written"},
    {RegisterCallKind::writeWord, stage::highReadBackRequest, "sending the high read-back request"},
    {RegisterCallKind::writeWord, stage::highReadBackReply,
     "receiving the high read-back reply (the converter did not answer)"},
    {RegisterCallKind::writeWord, stage::highReadBackDiffers,
     "the high value read back differs from the value written"},
};

}  // namespace

const char *RegisterStageText(RegisterCallKind kind, int stage)
{
    for (const StageRow &row : stageTexts)
        if (row.kind == kind && row.stage == stage)
            return row.text;
    return "";
}
