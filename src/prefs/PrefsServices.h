// What the preferences window needs from the layers above it: creating the
// spool folder tree in a newly chosen spool root. The application provides
// the one implementation (app/AppServices.h).
#pragma once

#include "host/base/MacTypes.h"

class TPrefsServices {
 public:
  virtual ~TPrefsServices() = default;
  // Creates (or finds) the spool folders under the live record's spool root
  // and keeps their locations in the record.
  virtual OSErr CreateImageAndJobFolders() = 0;
  // The same under the second spool root; stores nothing.
  virtual OSErr CreateImageAndJobFolders2() = 0;
};
