// What the removal steps share: naming an item, and asking about one item
// and removing it on Yes.
#pragma once

#include "app/run_state.h"
#include "text/text.h"
#include "ui/messages.h"

// Formats a path into out (260 bytes). When the whole path does not fit,
// the item cannot be named: this logs the path after existsTag (the tag of
// the check that is skipped) with an error line and returns 0. A cut path is
// never used, since it would name something else.
int ComposeItemPath(char* out, const char* existsTag, const char* format, ...)
    TAVO_PRINTF(3, 4);

// The folder (or file) question for path; DeleteItem on Yes.
StepOutcome OfferFolder(RunState* run, const char* path);
StepOutcome OfferFile(RunState* run, const char* path);

// The key question for run->keyPath with the record's lines; the key and
// everything below it deleted in view on Yes.
StepOutcome OfferKey(RunState* run, REGSAM view, RecordLines lines);
