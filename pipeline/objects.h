#pragma once
// Object segmentation: the 8-connected components of the foreground mask,
// the five largest of them described as object records, largest first.

// Consumes foregroundMask, fills objectRecords from record 0 upward (records
// this frame does not fill keep their contents) and leaves componentList
// empty. Among components of equal size the one found later by the seed scan
// (further right, or further down in the same seed column) comes first.
void findObjects();
