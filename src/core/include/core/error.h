// SPDX-License-Identifier: Apache-2.0
// Numbered errors: the number the original platform gives to a failure and a
// French description, possibly empty. The engine's errors (dbengine/error.h)
// and the Access reader's refusals (jet::Error) are of this class.
//
// The texts both the engine and the reader give are made here, once each.
// They are returned as a core::Error, which the engine throws as its
// EngineError and the reader as its jet::Error (both take a core::Error):
//   3343  Format de base de données « PATH » non reconnu.
//         Format de base de données « PATH » non reconnu : DETAIL.
//   3049  Impossible d'ouvrir la base de données « PATH » : le fichier est endommagé (DETAIL).
//   3051  Le moteur de base de données ne peut pas ouvrir le fichier « PATH ».
//         Le moteur de base de données ne peut pas ouvrir le fichier « PATH » : DETAIL.
#ifndef CORE_ERROR_H_
#define CORE_ERROR_H_

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace core {

class Error : public std::runtime_error {
 public:
  Error(std::int32_t number, std::string description)
      : std::runtime_error(description), number_(number), description_(std::move(description)) {}
  std::int32_t Number() const { return number_; }
  const std::string& Description() const { return description_; }

 private:
  std::int32_t number_;
  std::string description_;
};

// 3343: `path` is no database file the engine or the reader knows; `detail`
// (empty for none) says what was found.
Error UnrecognizedFormat(std::string_view path, std::string_view detail = {});
// 3049: the file `path` is damaged; `detail` says where.
Error DamagedFile(std::string_view path, std::string_view detail);
// 3051: the file `path` cannot be opened; `detail` (empty for none) says why.
Error CannotOpenFile(std::string_view path, std::string_view detail = {});

}  // namespace core

#endif  // CORE_ERROR_H_
