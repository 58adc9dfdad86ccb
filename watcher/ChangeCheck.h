#pragma once

#include <cstdint>
#include <string>

#include "TextChannel.h"

class TRegistry;
class TStringList;

// The first value of a run that KeyVigil could not carry (of a type it
// cannot watch, or with text beyond the ANSI code page): it is passed over
// so that it hides no other value, and reported when the run is otherwise
// over.
struct FirstUncarried {
  uint16_t problem = 0;
  std::string name;

  void Note(uint16_t valueProblem, const std::string& valueName) {
    if (problem != 0) return;
    problem = valueProblem;
    name = valueName;
  }
};

// What one watch pass hands the change check.
struct WatchPass {
  const std::string& keyLine;      // names the watched key in the prompts
  TRegistry& registry;             // with the watched key open, or none
  TStringList& values;             // the key's value names
  TStringList& snapshot;           // the accepted data, as loaded
  TTextChannel& channel;           // bound to the snapshot's read/append path
  const std::string& rewritePath;  // where the snapshot is rewritten
  FirstUncarried& uncarried;       // the run's first value passed over
};

// Asks about every entry that appeared or vanished and carries out each
// answer at once.
void RunChangeCheck(const WatchPass& pass);
