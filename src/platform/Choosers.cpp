#include "platform/Choosers.h"

#include <filesystem>

#include "host/files/FSSpec.h"
#include "host/ui/FileDialogs.h"
#include "platform/FileNames.h"
#include "platform/FolderLookup.h"
#include "platform/Log.h"
#include "platform/StringLists.h"

FSSpec gDefaultFolderFSSpec{};
int16_t gSelectedItem = 1;
int16_t gCurrentSaveFileType = 1;
CStr255_AC gOriginalExtension;

namespace {

constexpr int16_t kSavePrompt = 40;
constexpr size_t kMaxSaveName = 62;

// The path of the default folder, or empty when it names none.
std::filesystem::path DefaultFolderPath() {
  std::string path;
  if (host::GetPathForDirID(gDefaultFolderFSSpec.vRefNum, gDefaultFolderFSSpec.parID, &path) != noErr) {
    platform::PrintF("the Error = %d\n", int(dirNFErr));
    return {};
  }
  platform::PrintF("the Error = %d\n", 0);
  return std::filesystem::path(path);
}

// The save types offered in the type choice: 1 keeps the original
// extension, 2 to 9 are the image formats.
std::vector<std::string> SaveTypeNames() {
  return {"Original", "TIFF (*.TIF)", "JPEG (*.JPG)", "PICT (*.PCT)", "RAW (*.RAW)",
          "TIFF (*.TIF)", "Targa (*.TARGA)", "Photoshop (*.PSD)", "PNG (*.PNG)"};
}

}  // namespace

CStr255_AC getExtensionStringForSaveAsType(int16_t type) {
  switch (type) {
    case 2:
    case 6: return ".TIF";
    case 3: return ".JPG";
    case 4: return ".PCT";
    case 5: return ".RAW";
    case 7: return ".TARGA";
    case 8: return ".PSD";
    case 9: return ".PNG";
    default: return CStr255_AC();
  }
}

void setCurrentSaveAsType(int16_t type) { gCurrentSaveFileType = type; }
int16_t getCurrentSaveAsType() { return gCurrentSaveFileType; }

CStr255_AC RenameForSaveAsType(const CStr255_AC& name, int16_t type) {
  if (type < 1) type = 1;
  CStr255_AC out = getBaseNameFromName(name);
  out += type <= 1 ? gOriginalExtension : getExtensionStringForSaveAsType(type);
  return out;
}

// ---- CMyNavigation ----

void CMyNavigation::SetMessage(int16_t prompt) { message_ = GetIndString(kPromptStrings, prompt); }

OSErr CMyNavigation::ChooseFolder() {
  replyHeld_ = false;
  host::FileDialogRequest r;
  r.kind = host::FileDialogKind::kChooseFolder;
  r.title = title_.ToUTF8();
  r.message = message_.ToUTF8();
  r.startFolder = DefaultFolderPath();
  auto answer = host::RunFileDialog(r);
  if (!answer) return -1;
  replyHeld_ = true;
  replyPath_ = answer->path.string();
  return noErr;
}

OSErr CMyNavigation::SaveFile() {
  replyHeld_ = false;
  host::FileDialogRequest r;
  r.kind = host::FileDialogKind::kSaveFile;
  r.title = title_.ToUTF8();
  r.message = message_.ToUTF8();
  r.startFolder = DefaultFolderPath();
  if (saveFileType_ == FourCC("TEXT")) {
    // A text file keeps the caller's name; there is no type choice.
    r.defaultName = defaultName_.ToUTF8();
  } else {
    r.saveTypes = SaveTypeNames();
    gSelectedItem = std::max<int16_t>(1, getCurrentSaveAsType());
    r.initialSaveType = gSelectedItem;
    CStr255_AC name = "Untitled";
    name += gSelectedItem <= 1 ? gOriginalExtension : getExtensionStringForSaveAsType(gSelectedItem);
    r.defaultName = name.ToUTF8();
    r.renameForType = [](int type, const std::string& typed) {
      return RenameForSaveAsType(CStr255_AC(typed), int16_t(type)).ToUTF8();
    };
  }
  auto answer = host::RunFileDialog(r);
  if (!answer) return -1;
  replyHeld_ = true;
  replyPath_ = answer->path.string();
  if (saveFileType_ != FourCC("TEXT")) {
    gSelectedItem = int16_t(answer->saveType);
    setCurrentSaveAsType(gSelectedItem);
  }
  return noErr;
}

OSErr CMyNavigation::GetReplyAsFSSpec(FSSpec* spec) const {
  if (!replyHeld_ || !spec) return paramErr;
  return host::MakeFSSpecFromPath(replyPath_, spec);
}

OSErr CMyNavigation::GetSaveTarget(FSSpec* spec) const {
  if (!replyHeld_ || !spec) return paramErr;
  const std::filesystem::path file(replyPath_);
  int16_t vRefNum = 0;
  int32_t dirID = 0;
  const OSErr err = host::GetDirIDForPath(file.parent_path().string(), &vRefNum, &dirID);
  if (err != noErr) return err;
  CStr255_AC typed(file.filename().string());
  // Names longer than the file specification holds are cut, as typed.
  typed.SetLength(std::min(typed.Length(), kMaxSaveName));
  spec->vRefNum = vRefNum;
  spec->parID = dirID;
  spec->name = CStr63_AC(typed);
  return noErr;
}

// ---- CKivoNavClass ----

void CKivoNavClass::SetDefaultFolder(const FSSpec* spec) {
  if (spec) gDefaultFolderFSSpec = *spec;
}

bool CKivoNavClass::SaveFile(FSSpec* spec) {
  if (nav_.SaveFile() != noErr) return false;
  return nav_.GetSaveTarget(spec) == noErr;
}

// ---- free functions ----

bool myNewChooseFolder(int16_t& vRefNum, int32_t& dirID, bool, int16_t prompt) {
  CKivoNavClass nav;
  const FSSpec start{vRefNum, dirID, CStr63_AC()};
  nav.SetDefaultFolder(&start);
  nav.SetPrompt(prompt);
  if (!nav.ChooseFolder()) return false;
  FSSpec chosen;
  if (nav.GetSelectedFolderFSSpec(&chosen) != noErr) return false;
  vRefNum = chosen.vRefNum;
  dirID = chosen.parID;
  if (!chosen.name.IsEmpty()) {
    platform::PrintF("\n\n           myNewChooseFolder myFS.parID is [%i]\n", int(chosen.parID));
    platform::PrintF("            myNewChooseFolder myFS.name is [%s]\n", chosen.name.ToUTF8().c_str());
    dirID = GetFolderDirID(chosen);
    platform::PrintF(" myNewChooseFolder GetFolderDirID returned [%i]\n\n", int(dirID));
  }
  return true;
}

bool myChooseFolder(int16_t& vRefNum, int32_t& dirID, bool unused, int16_t prompt) {
  return myNewChooseFolder(vRefNum, dirID, unused, prompt);
}

OSErr MySaveFile(FSSpec* spec, const CStr255_AC& defaultName, OSType fileType, const CStr255_AC& title) {
  if (!spec) return -1;
  CKivoNavClass nav;
  const FSSpec start{spec->vRefNum, spec->parID, CStr63_AC()};
  nav.SetDefaultFolder(&start);
  nav.SetPrompt(kSavePrompt);
  nav.SetTitle(title);
  nav.SetDefaultName(defaultName);
  nav.SetSaveFileType(fileType);
  FSSpec chosen;
  if (!nav.SaveFile(&chosen)) return -1;
  *spec = chosen;
  return noErr;
}
