// What the preferences window needs from the layers above it: creating the
// spool folder tree in a newly chosen spool root. The application provides
// the one implementation (app/AppServices.h).
#pragma once

#include "host/base/MacTypes.h"

class TPrefsServices {
 public:
  virtual ~TPrefsServices() = default;
  // Takes the live record's spool root as start-up does (its lock, its
  // record of printed jobs), creates (or finds) its spool folders and keeps
  // their locations in the record. fBsyErr when another processor works on
  // it or its lock cannot be had, permErr when a folder of it is refused for
  // its modes; the operator has been told why.
  virtual OSErr CreateImageAndJobFolders() = 0;
  // The same under the second spool root; stores nothing.
  virtual OSErr CreateImageAndJobFolders2() = 0;
};
