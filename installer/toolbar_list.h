#pragma once

// Replaces the suite's toolbar list with the full paths of its three toolbar
// files below `root`. An empty root, a missing toolbar folder or a list that
// cannot be replaced leaves everything as it was.
void writeToolbarList(const wchar_t* root);
