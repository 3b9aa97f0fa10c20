// Read Device, Write Device and Format Device as the page runs them: the
// dialog's steps, messages and location codes over the register protocol
// on WebHID, each leaving its outcome in the page's session. The page holds
// the browser's converter lock around each call; every message on the way
// goes to the page's status line.
#pragma once

#include <string>

struct OperationOutcome {
    bool ok = false;
    std::string status;  // the last message, which stays on the status line
};

// Fills the session from the converter; on failure the session has no
// converter any more, as the dialog then offers only Read Device.
OperationOutcome ReadOperation();
// Writes the registers from 5 to 255 where the edited image differs from
// the converter as last read (every one with `all`), each verified by the
// protocol's read-back, then reads all 256 back and compares.
OperationOutcome WriteOperation(bool all);
// The factory format: the default image the two answers choose, into the
// edited image and then into every register from 0 to 255.
OperationOutcome FormatOperation(bool hasEct, bool blackConnector);
