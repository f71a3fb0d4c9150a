#pragma once

#include "HandMadeRecords.h"

#include "ntfs/uNTFSVolume.h"

#include <gtest/gtest.h>

#include <memory>

// Opens a hand-made volume image for one test and frees it afterwards.
class HandMadeVolumeTest : public ::testing::Test {
protected:
  void Open(const handmade::TVolumeImage& AImage) {
    FFile = std::make_unique<handmade::TTempFile>("tarnwick-handmade");
    AImage.WriteTo(FFile->Path());
    FVolume = NTFSVolumeInit(FFile->Name(), TFileSource::Open(FFile->Path()));
    NTFSVolumeAddRef(FVolume);
  }

  void TearDown() override {
    if (FVolume != nullptr)
      NTFSVolumeRelease(FVolume);
  }

  PNTFSVolume FVolume = nullptr;
  std::unique_ptr<handmade::TTempFile> FFile;
};
