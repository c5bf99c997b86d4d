// The application's document. The download manager edits no content, so it
// holds none: a new one always succeeds and nothing is ever left unsaved.
#pragma once

class CLumDoc
{
public:
    // A new document always succeeds; there is nothing to initialise.
    bool OnNewDocument() { return true; }
    bool IsModified() const { return false; }
};
