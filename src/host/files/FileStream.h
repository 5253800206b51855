// A framework stream over the data fork of an open file object: reads and
// writes go to the file at its current mark.
#pragma once

#include "host/base/Stream.h"
#include "host/files/File.h"

class CFileStream_AC : public CStream_AC {
 public:
  // The file stays owned by the caller and must have its data fork open.
  explicit CFileStream_AC(TFile* file) : file_(file) {}

  uint64_t GetPosition() const override;
  void SetPosition(uint64_t position) override;
  uint64_t GetLength() const override;

 protected:
  void DoRead(void* buffer, size_t count) override;
  void DoWrite(const void* buffer, size_t count) override;

 private:
  TFile* file_;
};
