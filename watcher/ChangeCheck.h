#pragma once

#include <string>

#include "TextChannel.h"

class TRegistry;
class TStringList;

// What one watch pass hands the change check.
struct WatchPass {
  const std::string& keyLine;      // names the watched key in the prompts
  TRegistry& registry;             // with the watched key open, or none
  TStringList& values;             // the key's value names
  TStringList& snapshot;           // the accepted data, as loaded
  TTextChannel& channel;           // bound to the snapshot's read/append path
  const std::string& rewritePath;  // where the snapshot is rewritten
};

// Asks about every entry that appeared or vanished and carries out each
// answer at once.
void RunChangeCheck(const WatchPass& pass);

std::string AddedPromptText(const std::string& keyLine, const std::string& name,
                            const std::string& data);
std::string RemovedPromptText(const std::string& keyLine, const std::string& line);
