#pragma once

// Replaces the suite's toolbar list with the full paths of its three toolbar
// files below `root`, in the system's ANSI code page. An empty root, a missing
// toolbar folder, a root with a character the code page has no form for, or a
// list that cannot be replaced leaves everything as it was.
void writeToolbarList(const wchar_t* root);
