#include "platform/StringLists.h"

#include <map>
#include <utility>

#include "platform/Log.h"

namespace {

using Key = std::pair<int16_t, int16_t>;

// Texts in UTF-8; they are converted to Mac Roman when fetched.
const std::map<Key, const char*>& Table() {
  static const std::map<Key, const char*> table = {
      // 4100: file errors.
      {{4100, 1}, "The file could not be opened."},
      {{4100, 2}, "The file could not be read."},
      {{4100, 3}, "The file could not be written."},
      {{4100, 4}, "The file could not be closed."},
      {{4100, 5}, "The file could not be created."},
      {{4100, 6}, "The file could not be deleted."},
      {{4100, 7}, "The file could not be renamed."},
      {{4100, 8}, "The folder could not be found."},
      {{4100, 9}, "The volume could not be flushed to disk."},
      {{4100, 10}, "The file could not be moved."},
      {{4100, 11}, "The file could not be copied."},
      {{4100, 12}, "The file information could not be read."},
      {{4100, 13}, "The file information could not be written."},
      {{4100, 14}, "Access to the file or folder was denied."},
      {{4100, 15}, "The item is not of the expected kind (file or folder)."},
      {{4100, 16}, "The file name is not valid."},
      {{4100, 17}, "The folder could not be found."},
      {{4100, 18}, "Disk is full!"},
      {{4100, 19}, "A file or folder with that name already exists."},
      {{4100, 20}, "The file is locked."},
      {{4100, 21}, "The file could not be found."},
      {{4100, 22}, "The file is not open."},
      {{4100, 23}, "A disk input/output error occurred."},
      {{4100, 24}, "The volume could not be found."},
      {{4100, 25}, "The file is already open for writing."},
      {{4100, 26}, "A file operation was given a wrong parameter."},
      {{4100, 27}, "The file reference is not valid."},
      {{4100, 28}, "Too many files are open."},
      {{4100, 29}, "The volume is locked."},
      {{4100, 30}, "The disk is write-protected."},
      {{4100, 31}, "There is no permission to write to the file."},
      {{4100, 32}, "An unexpected file error occurred."},
      // 4101: offscreens and ports.
      {{4101, 1}, "The pixel map is missing."},
      {{4101, 2}, "The offscreen image is missing."},
      {{4101, 3}, "The pixels of an offscreen image could not be locked."},
      {{4101, 4}, "An offscreen image has no pixel memory."},
      {{4101, 5}, "No offscreen image was given to lock or protect."},
      {{4101, 6}, "An offscreen image has no pixel map."},
      {{4101, 7}, "No offscreen image was given to clear."},
      {{4101, 8}, "No offscreen image was given to protect and lock."},
      {{4101, 9}, "The drawing port could not be set."},
      {{4101, 10}, "Not enough memory to create an offscreen image."},
      {{4101, 11}, "An offscreen image could not be released."},
      {{4101, 12}, "An offscreen image could not be duplicated."},
      {{4101, 13}, "No source image was given to copy."},
      {{4101, 14}, "No destination image was given to copy into."},
      {{4101, 15}, "The image could not be copied."},
      {{4101, 16}, "The image could not be turned."},
      {{4101, 17}, "No source image was given to turn."},
      {{4101, 18}, "No destination image was given to turn into."},
      {{4101, 19}, "The turned image does not have the expected size."},
      // 4102: memory and resource errors.
      {{4102, 1}, "Out of memory."},
      {{4102, 2}, "A memory block could not be allocated."},
      {{4102, 3}, "A memory block could not be locked."},
      {{4102, 4}, "A memory block could not be released."},
      {{4102, 5}, "A memory block could not be allocated."},
      {{4102, 6}, "The system gave no memory block."},
      {{4102, 7}, "Not enough memory."},
      {{4102, 8}, "The memory handle is empty."},
      {{4102, 9}, "The memory zone is damaged."},
      {{4102, 10}, "A memory block could not be purged."},
      {{4102, 11}, "A memory block is locked."},
      {{4102, 12}, "A resource could not be added."},
      {{4102, 13}, "A resource could not be found."},
      {{4102, 14}, "A resource file could not be found."},
      {{4102, 15}, "An unexpected memory error occurred."},
      {{4102, 16}, "An unexpected resource error occurred."},
      // 4103: general messages.
      {{4103, 1}, "The operation could not be completed."},
      // 4104: folder creation.
      {{4104, 1}, "The folder could not be found."},
      {{4104, 2}, "The folder could not be created."},
      {{4104, 3}, "The folder could not be opened."},
      {{4104, 4}, "The folder could not be emptied."},
      {{4104, 5}, "The folder could not be renamed."},
      {{4104, 6}, "The folder could not be read."},
      {{4104, 7}, "The folder could not be created: a file or folder with that name already exists."},
      {{4104, 8}, "The folder could not be created."},
      // 4105: copying and resampling.
      {{4105, 1}, "The image could not be resized."},
      {{4105, 7}, "A disk could not be mounted."},
      {{4105, 10}, "The information of the file to copy could not be read."},
      {{4105, 11}, "Not enough memory to copy the file."},
      {{4105, 12}, "The file to copy could not be opened."},
      {{4105, 13}, "The file to copy could not be read."},
      {{4105, 14}, "The copy could not be created."},
      {{4105, 15}, "The copy could not be opened for writing."},
      {{4105, 16}, "The copy could not be written."},
      {{4105, 30}, "The image could not be resized: an image is missing."},
      {{4105, 31}, "Not enough memory to resize the image."},
      {{4105, 32}, "The image could not be resized."},
      {{4105, 33}, "The image could not be resized: a rectangle lies outside its image."},
      {{4105, 50}, "No free name was found for the copy."},
      // 4106: missing offscreens.
      {{4106, 1}, "No offscreen image was given."},
      {{4106, 30}, "The image could not be resized: the source or destination image is missing."},
      // 4000: the categories of the preferences window.
      {{4000, 1}, "General Settings"},
      {{4000, 2}, "Print To File"},
      {{4000, 3}, "Kivo-Print Center"},
      {{4000, 4}, "Print To File Sets"},
      {{4000, 5}, "Output Files"},
      {{4000, 6}, "For Web Upload"},
      // 4112: dialog prompts.
      {{4112, 1}, "Choose a folder:"},
      {{4112, 9}, "Choose the folder in which the spool folders are kept:"},
      {{4112, 23}, "Choose the output folder:"},
      {{4112, 34}, "Choose the Kivo-PrintCenter folder:"},
      {{4112, 40}, "Save the file as:"},
  };
  return table;
}

// List 4002: the printer's name for printer codes 1..99.
std::string PrinterNameOfCode(int16_t printer) {
  if (printer == 8) return "System Printer";
  if (printer == 17) return "Print to File";
  if (printer >= 25 && printer <= 28) return PrintToFileSetName(printer - 24);
  if (printer >= 49 && printer <= 52) return PrintToFileSetName(printer - 44);
  return platform::StringF("Photo Printer %d", int(printer));
}

bool IsPrinterNameItem(int16_t list, int16_t item) { return list == kPrinterNameStrings && item >= 1 && item <= 99; }

}  // namespace

std::string PrintToFileSetName(int set) { return platform::StringF("Print to File Set %d", set); }

bool HasIndString(int16_t list, int16_t item) {
  return IsPrinterNameItem(list, item) || Table().count({list, item}) != 0;
}

CStr255_AC GetIndString(int16_t list, int16_t item) {
  if (IsPrinterNameItem(list, item)) return CStr255_AC(PrinterNameOfCode(item));
  const auto& table = Table();
  const auto it = table.find({list, item});
  if (it != table.end()) return CStr255_AC(it->second);
  return CStr255_AC(platform::StringF("An error occurred (message %d of list %d).", item, list));
}
