#pragma once

// The page view's notes (NoteMark, PageNotes, NoteStore) are the values the book file's notes
// record holds, defined beside its codec.
#include "userdatarecord.h"
