// SPDX-License-Identifier: Apache-2.0
#include "core/error.h"

#include <gtest/gtest.h>

namespace core {
namespace {

TEST(SharedErrorTextTest, NumberAndTextExact) {
  struct Case {
    Error error;
    std::int32_t number;
    const char* text;
  };
  const Case cases[] = {
      {UnrecognizedFormat("/d/a.mdb"), 3343, "Format de base de données « /d/a.mdb » non reconnu."},
      {UnrecognizedFormat("a.mdb", "version 7"), 3343, "Format de base de données « a.mdb » non reconnu : version 7."},
      {DamagedFile("a.mdb", "page 9 hors du fichier"), 3049,
       "Impossible d'ouvrir la base de données « a.mdb » : le fichier est endommagé (page 9 hors du fichier)."},
      {CannotOpenFile("a.mdb"), 3051, "Le moteur de base de données ne peut pas ouvrir le fichier « a.mdb »."},
      {CannotOpenFile("a.mdb", "pas de copie"), 3051,
       "Le moteur de base de données ne peut pas ouvrir le fichier « a.mdb » : pas de copie."},
  };
  for (const Case& test : cases) {
    EXPECT_EQ(test.error.Number(), test.number) << test.text;
    EXPECT_EQ(test.error.Description(), test.text);
    EXPECT_STREQ(test.error.what(), test.text);
  }
}

}  // namespace
}  // namespace core
