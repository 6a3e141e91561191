// The Yes / No / Cancel question asked before every removal.
#pragma once

// Shows the composed message and returns IDYES (6), IDNO (7) or IDCANCEL (2),
// the last meaning the user confirmed ending the run. Writes one log line.
int ConfirmDeleteItem(const char* text);
