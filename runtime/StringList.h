#pragma once

#include <cstdint>
#include <memory>
#include <string>

class TStream;

// Outside adapter of a list; nothing in KeyVigil attaches one, the list only
// releases it.
class IStringsAdapter {
 public:
  virtual ~IStringsAdapter() = default;
};

class TPersistent {
 public:
  virtual ~TPersistent() = default;
};

// The byte's capital by the system's mapping of the ANSI code page; a byte
// that is no small letter is its own capital.
char CapitalOf(char c);

// Three-way comparison ignoring letter case by the user's locale: -1, 0, +1,
// or -2 when the platform reports a failure. Only 0 means equal: the same
// length, and each byte the same as its counterpart up to letter case.
int CompareIgnoringCase(const std::string& a, const std::string& b);

// The algorithms that work on all entries, written once over the two
// primitives EntryCount and EntryAt.
class TStrings : public TPersistent {
 public:
  ~TStrings() override;

  // The returned text is the entry's own and stays valid until the list is
  // next changed; a caller that keeps it keeps a copy. Handing out the stored
  // text instead of a fresh copy halves the cost of a scan.
  virtual const std::string& EntryAt(int32_t position) const = 0;
  virtual int32_t EntryCount() const = 0;
  virtual std::string JoinedText() const;
  virtual void ReplaceEntry(int32_t position, const std::string& text) = 0;
  virtual void ResizeStorage(int32_t slotCount);
  virtual int32_t AppendEntry(const std::string& text) = 0;
  virtual void RemoveAllEntries() = 0;
  virtual void RemoveEntryAt(int32_t position) = 0;
  virtual int32_t FindEntry(const std::string& text) const;
  virtual void WriteAllToFile(const std::string& path) const;
  virtual void WriteAllToStream(TStream& stream) const;

 protected:
  [[noreturn]] static void RaiseListError(uint16_t messageId, int32_t number,
                                          const void* faultAddress);

  int32_t batchDepth = 0;
  std::unique_ptr<IStringsAdapter> adapterLink;
};

enum class DuplicatePolicy : uint8_t { IgnoreDuplicate, AcceptDuplicate, RejectDuplicate };

class TStringList : public TStrings {
 public:
  struct EditHook {
    void (*function)(void* context, TStringList& list) = nullptr;
    void* context = nullptr;
  };

  TStringList() = default;
  TStringList(const TStringList&) = delete;
  TStringList& operator=(const TStringList&) = delete;
  ~TStringList() override;

  const std::string& EntryAt(int32_t position) const override;
  int32_t EntryCount() const override;
  void ReplaceEntry(int32_t position, const std::string& text) override;
  void ResizeStorage(int32_t slotCount) override;
  int32_t AppendEntry(const std::string& text) override;
  void RemoveAllEntries() override;
  void RemoveEntryAt(int32_t position) override;
  int32_t FindEntry(const std::string& text) const override;
  virtual void NotifyAfterEdit();
  virtual void NotifyBeforeEdit();
  virtual bool LocateSorted(const std::string& text, int32_t& position) const;


 private:
  struct Entry {
    std::string text;
    void* attachedObject = nullptr;
  };

  void InsertEntry(int32_t position, const std::string& text);
  void GrowStorage();
  void ReleaseEntries();

  std::unique_ptr<Entry[]> slots;
  int32_t entryCount = 0;
  int32_t slotCount = 0;
  bool isSorted = false;
  DuplicatePolicy duplicatePolicy = DuplicatePolicy::IgnoreDuplicate;
  EditHook afterEditHook;
  EditHook beforeEditHook;
};
