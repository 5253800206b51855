// The folder and file choosers the preference panels and the report window
// use: a folder chooser that opens at a stored folder and answers with the
// chosen folder's volume and own directory id, and a save chooser whose
// file-type choice keeps the extension of the typed name in step. Both run
// on the host's file dialogs (host/ui/FileDialogs.h), which answer "cancel"
// at once when there is no display.
#pragma once

#include <cstdint>
#include <string>

#include "host/base/MacTypes.h"
#include "host/base/PascalString.h"
#include "host/files/FSSpec.h"

// Where the next dialog opens (volume and directory id; the name is unused).
extern FSSpec gDefaultFolderFSSpec;
// The type chosen in the save dialog's type choice.
extern int16_t gSelectedItem;
// The type last saved with; a save dialog opens on it.
extern int16_t gCurrentSaveFileType;
// The extension used for save types of 1 or less (empty at start).
extern CStr255_AC gOriginalExtension;

// ".TIF" (2, 6), ".JPG" (3), ".PCT" (4), ".RAW" (5), ".TARGA" (7), ".PSD" (8),
// ".PNG" (9); empty for any other type.
CStr255_AC getExtensionStringForSaveAsType(int16_t type);
void setCurrentSaveAsType(int16_t type);
int16_t getCurrentSaveAsType();
// A typed name after the type choice changed: its extension replaced by the
// type's (gOriginalExtension for types of 1 or less). Values below 1 count
// as 1.
CStr255_AC RenameForSaveAsType(const CStr255_AC& name, int16_t type);

// Holds the options and the reply of one dialog.
class CMyNavigation {
 public:
  CMyNavigation() = default;
  void SetWindowTitle(const CStr255_AC& title) { title_ = title; }
  void SetDefaultName(const CStr255_AC& name) { defaultName_ = name; }
  // The message is item `prompt` of string list 4112.
  void SetMessage(int16_t prompt);
  const CStr255_AC& GetDialogMessage() const { return message_; }
  void SetSaveFileType(OSType type) { saveFileType_ = type; }
  OSType GetSaveFileType() const { return saveFileType_; }

  // 0 when the operator chose a folder, -1 otherwise.
  OSErr ChooseFolder();
  // 0 when the operator named a file to save, -1 otherwise.
  OSErr SaveFile();
  bool HasReply() const { return replyHeld_; }
  // The reply as a file specification in the usual form (the chosen folder's
  // parent id and name; for a save, the target folder's and the typed name).
  OSErr GetReplyAsFSSpec(FSSpec* spec) const;
  // Save dialogs: the target folder's own id and the typed name (at most 62
  // characters).
  OSErr GetSaveTarget(FSSpec* spec) const;

 private:
  CStr255_AC title_, defaultName_, message_;
  OSType saveFileType_ = FourCC("????");
  bool replyHeld_ = false;
  std::string replyPath_;  // UTF-8; folder or file
};

// The facade the program uses for one dialog.
class CKivoNavClass {
 public:
  void SetDefaultFolder(const FSSpec* spec);
  void SetSaveFileType(OSType type) { nav_.SetSaveFileType(type); }
  void SetTitle(const CStr255_AC& title) { nav_.SetWindowTitle(title); }
  void SetDefaultName(const CStr255_AC& name) { nav_.SetDefaultName(name); }
  void SetPrompt(int16_t prompt) { nav_.SetMessage(prompt); }
  bool ChooseFolder() { return nav_.ChooseFolder() == noErr && nav_.HasReply(); }
  bool SaveFile(FSSpec* spec);
  OSErr GetSelectedFolderFSSpec(FSSpec* spec) const { return nav_.GetReplyAsFSSpec(spec); }

 private:
  CMyNavigation nav_;
};

inline bool NavigationServicesAvailable() { return true; }

// Shows the folder chooser at folder (vRefNum, dirID) with item `prompt` of
// list 4112 as its message. True when a folder was chosen: then vRefNum and
// dirID hold its volume and its own directory id. On cancel both stay.
bool myChooseFolder(int16_t& vRefNum, int32_t& dirID, bool unused, int16_t prompt);
bool myNewChooseFolder(int16_t& vRefNum, int32_t& dirID, bool unused, int16_t prompt);

// The save chooser (message: item 40 of list 4112), opening at the folder of
// `spec`. 0 when confirmed, with `spec` set to the chosen folder's volume
// and own id and the typed name; -1 otherwise.
OSErr MySaveFile(FSSpec* spec, const CStr255_AC& defaultName, OSType fileType, const CStr255_AC& title);
