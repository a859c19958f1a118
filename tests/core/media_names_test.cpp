#include "core/media_names.h"

#include <gtest/gtest.h>

// The window takes any letter case after the last dot of the file's own name.
TEST(MediaNames, MediaByTheExtensionOfTheFileNameInAnyCase) {
  EXPECT_TRUE(is_media_name("/m/A001.MOV"));
  EXPECT_TRUE(is_media_name("take.Mp3"));
  EXPECT_TRUE(is_media_name("C:\\card\\clip.mts"));
  EXPECT_FALSE(is_media_name("/m/notes.txt"));
  EXPECT_FALSE(is_media_name("/m/mov"));          // no dot: no extension
  EXPECT_FALSE(is_media_name("/m/clips.mov/readme"));  // a folder's dot is not the file's
  EXPECT_FALSE(is_media_name("/m/a.mov.part"));
  EXPECT_FALSE(is_media_name("/m/a."));
}

TEST(MediaNames, SoundOnlyRecordingsAreToldFromFilms) {
  for (const char* sound : {"a.wav", "a.FLAC", "a.m4a", "a.aiff", "a.opus"})
    EXPECT_TRUE(is_sound_only_name(sound)) << sound;
  for (const char* film : {"a.mov", "a.MP4", "a.mxf", "a.txt", "wav"})
    EXPECT_FALSE(is_sound_only_name(film)) << film;
}

// The documents read the bare tail, spelled all lower or all upper case only.
TEST(MediaNames, DocumentTailsCountInExactlyTwoSpellings) {
  EXPECT_TRUE(ends_in_either_case("/a/b.wav", "wav"));
  EXPECT_TRUE(ends_in_either_case("/a/B.WAV", "wav"));
  EXPECT_TRUE(ends_in_either_case("/a/bwav", "wav"));
  EXPECT_FALSE(ends_in_either_case("/a/b.Wav", "wav"));
  EXPECT_FALSE(ends_in_either_case("av", "wav"));
}
