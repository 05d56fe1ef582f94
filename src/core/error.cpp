// SPDX-License-Identifier: Apache-2.0
// The texts of the errors both the engine and the Access reader give.
#include "core/error.h"

namespace core {
namespace {

// HEAD « PATH »TAIL, then " : DETAIL" when there is a detail, and a full stop.
Error AboutPath(std::int32_t number, std::string_view head, std::string_view path, std::string_view tail,
                std::string_view detail) {
  std::string text(head);
  text.append("« ").append(path).append(" »").append(tail);
  if (!detail.empty()) text.append(" : ").append(detail);
  text += '.';
  return Error(number, std::move(text));
}

}  // namespace

Error UnrecognizedFormat(std::string_view path, std::string_view detail) {
  return AboutPath(3343, "Format de base de données ", path, " non reconnu", detail);
}

Error DamagedFile(std::string_view path, std::string_view detail) {
  std::string tail = " : le fichier est endommagé (";
  tail.append(detail).append(")");
  return AboutPath(3049, "Impossible d'ouvrir la base de données ", path, tail, {});
}

Error CannotOpenFile(std::string_view path, std::string_view detail) {
  return AboutPath(3051, "Le moteur de base de données ne peut pas ouvrir le fichier ", path, {}, detail);
}

}  // namespace core
