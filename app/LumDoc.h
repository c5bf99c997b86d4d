// The document: the program has no document content of its own. It exists so
// the shell keeps the single-document shape (one document, one frame, one view).
#pragma once

class CLumDoc
{
public:
    // A new document always succeeds; there is nothing to initialise.
    bool OnNewDocument() { return true; }
    bool IsModified() const { return false; }
};
