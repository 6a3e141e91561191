// Existence checks and deletion of files and folders, each given one full
// code page 932 path of at most 259 bytes.
#pragma once

// 1 when path names an existing folder.
int ExistsFolder(const char* path);

// 1 when path names an existing entry that is not a folder.
int ExistsFile(const char* path);

// Deletes the file or the folder with everything in it, permanently, through
// the shell. 1 when the shell carried the whole deletion out, else 0.
int DeleteItem(const char* path);

// Flags set on every file operation: no progress window, no confirmation
// from the shell (the tool asked already), no question about new folders.
// Not FOF_ALLOWUNDO: nothing goes to the Recycle Bin. Not FOF_NOERRORUI: the
// shell still tells the user about a file it cannot delete.
enum { kDeleteFlags = 0x0214 };
