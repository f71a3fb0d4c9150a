#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <vector>

#include <QString>

#include "diagnostics/uZipWriter.h"

// A packet of zip archives in the user's temporary folder, filled from files
// of the user's choosing and handed as attachments of one message to the
// user's mail program. Packing and mailing report to the process-wide
// simple progress fan-out, which may also cancel the packing.

// One archive. Additions open it in create mode and write it when the
// outermost batch ends; an archive whose batch never ended is deleted
// when the item goes.
class TSendSourceItem {
public:
  explicit TSendSourceItem(const QString& AFileName);

  // Adds one file, stored under its file name.
  void AddFile(const QString& AFileName);
  // Adds every file directly in ADir that matches AFileMask, case-insensitively.
  void AddFiles(const QString& ADir, const QString& AFileMask);

  // Batches nest: the archive is opened by the first BeginUpdate and written
  // by the EndUpdate that matches it. Unmatched EndUpdates change nothing.
  void BeginUpdate();
  void EndUpdate();

  QString GetFileName() const { return FName; }

private:
  void AddMatching(const std::string& AStepText, const QString& ADir, const QString& AMask);

  std::int32_t FUpdateCounter = 0;
  QString FName;
  TZipWriter FArchive;
};

class TSendSourcePacket {
public:
  // Takes the user's temporary folder now.
  TSendSourcePacket();

  // A new item whose archive is AName plus ".zip" in the temporary folder.
  // AName must be a plain file name.
  TSendSourceItem& AddItem(const QString& AName);
  std::int32_t GetItemCount() const;
  // Zero-based; an index outside the packet raises std::out_of_range.
  TSendSourceItem& GetItem(std::int32_t i) const;
  void Clear();

private:
  QString FTempPath;
  std::vector<std::unique_ptr<TSendSourceItem>> FItems;
};

// The mail program could not be started or refused the message.
class EMailError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

class SourceSender {
public:
  SourceSender() = delete;

  static std::unique_ptr<TSendSourcePacket> CreatePacket();

  // Opens the user's mail program with a message to email carrying every
  // item's archive, for the user to look over and send. Returns False for an
  // empty packet; raises EMailError when an archive is missing or the mail
  // program cannot take the message.
  static bool SendPacket(TSendSourcePacket& packet, const QString& email, const QString& wSubject,
                         const QString& wBody);
};
