#include "jobwriter/SeedCorpus.h"

namespace jobwriter {

std::vector<std::pair<std::string, std::vector<uint8_t>>> SeedJobs() {
  using namespace layout;
  std::vector<std::pair<std::string, std::vector<uint8_t>>> seeds;

  // A plain print-to-file job with one of every simple object.
  TJobDescription plain;
  plain.printer = 17;
  plain.objects.push_back(RecordOf(*TBackColorObject::New(BackColorDesc({65535, 0, 0}, 0, 0, 4, 6))));
  plain.objects.push_back(RecordOf(*TImageObject::New(ImageDesc("photo.jpg", 0.5f, 0.5f, 3, 4))));
  plain.objects.push_back(RecordOf(*TTextObject::New(TextDesc("Hello", 0.5f, 5, 3, 0.5f))));
  plain.objects.push_back(RecordOf(*TStampObject::New(CStampDesc{})));
  plain.objects.push_back(RecordOf(*TEditTextObject::New(CEditTextDesc{})));
  plain.objects.push_back(RecordOf(*TDatabaseObject::New(CDatabaseDesc{})));
  plain.objects.push_back(RecordOf(*TFileOverlayObject::New(COverlayDesc{})));
  plain.objects.push_back(RecordOf(*TTransparentOverlayObject::New(COverlayDesc{})));
  plain.objects.push_back(RecordOf(*TGroupPhotoObject::New(CGroupPhotoDesc{})));
  plain.objects.push_back(RawRecord(FourCC("ovly"), 64, 0x5A));
  plain.printInfo = {1, 2, 3, 4, 5, 6, 7, 8};
  seeds.emplace_back("plain", WriteJobFile(plain));

  // A chroma-key job with a sub-job, a node with children and attributes.
  TJobDescription keyed;
  keyed.printer = 9;
  keyed.hasSubJob = true;
  keyed.subJobWidth = 4;
  keyed.subJobHeight = 6;
  CImageDesc green = ImageDesc("green.jpg", 0, 0, 4, 6);
  green.fHasChromaKey = 1;
  auto keyedImage = TImageObject::New(green);
  keyedImage->SetChromaKeySettings(tChromaKeySettings{});
  keyed.subJobObjects.push_back(RecordOf(*keyedImage));
  auto node = TNodeViewObject::New(CNodeDesc{});
  node->AddChild(TImageObject::New(ImageDesc("child.jpg", 0, 0, 1, 1)));
  node->AddChild(TAttributeObject::New(CAttributeDesc{}));
  keyed.objects.push_back(RecordOf(*node));
  CAttributeDesc attr;
  attr.SaveCKTemplateAsIs = 1;
  keyed.objects.push_back(RecordOf(*TAttributeObject::New(attr)));
  seeds.emplace_back("chromakey-subjob-node", WriteJobFile(keyed));

  // A print-to-file set job with yearbook records.
  TJobDescription set;
  set.printer = 26;
  set.blocks.print2File.setNumber = 2;
  set.printToFileSet.hasYearbookRecords = 1;
  set.objects.push_back(RecordOf(*TTextObject::New(TextDesc("Year", 0, 0, 1, 1))));
  seeds.emplace_back("set-yearbook", WriteJobFile(set));

  // A large printer block.
  TJobDescription mitsu;
  mitsu.printer = 23;
  mitsu.objects.push_back(RecordOf(*TTextObject::New(TextDesc("M", 0, 0, 1, 1))));
  seeds.emplace_back("printer-23", WriteJobFile(mitsu));
  return seeds;
}

}  // namespace jobwriter
