#include "host/files/FileStream.h"

uint64_t CFileStream_AC::GetPosition() const {
  int64_t mark = 0;
  ThrowIfError_AC(file_ ? file_->GetDataMark(mark) : OSErr(rfNumErr));
  return static_cast<uint64_t>(mark);
}

void CFileStream_AC::SetPosition(uint64_t position) {
  if (!file_) Throw_AC(rfNumErr);
  ThrowIfError_AC(file_->SetDataMark(static_cast<int64_t>(position), fsFromStart));
}

uint64_t CFileStream_AC::GetLength() const {
  int64_t length = 0;
  ThrowIfError_AC(file_ ? file_->GetDataLength(length) : OSErr(rfNumErr));
  return static_cast<uint64_t>(length);
}

void CFileStream_AC::DoRead(void* buffer, size_t count) {
  int64_t n = static_cast<int64_t>(count);
  ThrowIfError_AC(file_->ReadData(buffer, n));
}

void CFileStream_AC::DoWrite(const void* buffer, size_t count) {
  if (!file_) Throw_AC(rfNumErr);
  int64_t n = static_cast<int64_t>(count);
  ThrowIfError_AC(file_->WriteData(buffer, n));
}
