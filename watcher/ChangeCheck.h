#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Prompt.h"
#include "Registry.h"
#include "TextChannel.h"

class TStringList;

// The watched key in one registry view, with its values as one listing gave
// them.
struct WatchedView {
  std::string keyLine;                  // names the key in this view in the prompts
  std::unique_ptr<TRegistry> registry;  // with the key open in this view, or none
  std::vector<RegistryValue> values;
};

// What one watch pass hands the change check.
struct WatchPass {
  const char* watchedKey;                // below HKEY_LOCAL_MACHINE
  std::vector<WatchedView>& views;       // the native view first
  TStringList& snapshot;                 // the accepted data, as loaded
  TTextChannel& channel;                 // bound to the snapshot's read/append path
  const std::string& rewritePath;        // where the snapshot is rewritten
  std::vector<PassedOver>& passedOver;   // every value of the run passed over
};

// Asks about every entry that appeared or vanished and carries out each
// answer at once.
void RunChangeCheck(const WatchPass& pass);
