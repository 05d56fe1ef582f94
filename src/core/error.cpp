// SPDX-License-Identifier: Apache-2.0
// The texts of the errors both the engine and the Access reader give.
#include "core/error.h"

namespace core {

Error UnrecognizedFormat(std::string_view path, std::string_view detail) {
  std::string text = "Format de base de données « ";
  text.append(path).append(" » non reconnu");
  if (!detail.empty()) text.append(" : ").append(detail);
  text += '.';
  return Error(3343, std::move(text));
}

Error DamagedFile(std::string_view path, std::string_view detail) {
  std::string text = "Impossible d'ouvrir la base de données « ";
  text.append(path).append(" » : le fichier est endommagé (").append(detail).append(").");
  return Error(3049, std::move(text));
}

Error CannotOpenFile(std::string_view path, std::string_view detail) {
  std::string text = "Le moteur de base de données ne peut pas ouvrir le fichier « ";
  text.append(path).append(" »");
  if (!detail.empty()) text.append(" : ").append(detail);
  text += '.';
  return Error(3051, std::move(text));
}

}  // namespace core
