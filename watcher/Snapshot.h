#pragma once

#include <string>

#include "TextChannel.h"

class TStringList;

// Fills the (cleared) list with the file's non-empty lines; a file that
// does not exist is created empty.
void LoadSnapshot(TTextChannel& channel, const std::string& readPath, TStringList& snapshot);
// Adds one line at the end of the file the channel is bound to.
void AppendSnapshotLine(TTextChannel& channel, const std::string& text);
// Replaces the file's whole content with the list.
void RewriteSnapshot(const std::string& rewritePath, const TStringList& snapshot);
