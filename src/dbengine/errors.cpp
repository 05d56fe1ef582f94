// SPDX-License-Identifier: Apache-2.0
// The engine's errors by name: their numbers and French texts (errors.h).
#include "errors.h"

#include <errno.h>

#include "core/error.h"

namespace dbengine::errors {

EngineError FileNotFound(const std::string& path) {
  return EngineError(3024, "Le fichier « " + path + " » est introuvable.");
}

EngineError InvalidPath(const std::string& folder) {
  return EngineError(3044, "« " + folder + " » n'est pas un chemin d'accès valide.");
}

EngineError CannotOpen(const std::string& path) { return EngineError(core::CannotOpenFile(path)); }

EngineError NoTemporaryFolder(const std::string& path) {
  return EngineError(core::CannotOpenFile(path, "pas de dossier temporaire où en lire une copie"));
}

EngineError ReadingCopyFailed(const std::string& path, const std::string& folder) {
  return EngineError(core::CannotOpenFile(path, "sa copie de lecture n'a pas pu être faite dans « " + folder + " »"));
}

EngineError UnrecognizedFormat(const std::string& path) { return EngineError(core::UnrecognizedFormat(path)); }

EngineError CannotCreate(const std::string& path) {
  return EngineError(3051, "Impossible de créer la base de données « " + path + " ».");
}

EngineError DatabaseExists(const std::string& path) {
  return EngineError(3204, "La base de données « " + path + " » existe déjà.");
}

EngineError CreateThroughLink(const std::string& path) {
  return EngineError(3204, "La base de données « " + path +
                               " » n'est pas créée : ce nom est un lien symbolique, et la base serait "
                               "créée à l'endroit où il mène.");
}

EngineError ReadOnlyDatabase(const std::string& path) {
  return EngineError(3027, "Mise à jour impossible ; la base de données « " + path + " » est ouverte en lecture seule.");
}

EngineError Locked() {
  return EngineError(3050, "La base de données est verrouillée par un autre programme ou une autre "
                           "opération en cours.");
}

EngineError ChangedWhileRead(const std::string& path) {
  return EngineError(3197, "La base de données « " + path +
                               " » a été modifiée par un autre programme pendant sa lecture : ce qui en a été "
                               "lu ne forme pas un état unique. Relancez l'opération.");
}

EngineError DiskFull(const std::string& path) {
  return EngineError(3026, "Espace disque insuffisant pour écrire dans la base de données « " + path + " ».");
}

EngineError DiskError(const std::string& path) {
  return EngineError(3043, "Erreur de disque ou de réseau sur « " + path + " ».");
}

EngineError DiskWrite(int error, const std::string& path) {
  if (error == ENOSPC || error == EDQUOT || error == EFBIG) return DiskFull(path);
  return DiskError(path);
}

EngineError WorkingCopyFull(const std::string& folder) {
  return EngineError(3026, "Espace disque insuffisant pour écrire dans le dossier temporaire « " + folder +
                               " », où se fait la copie de travail de la base Access.");
}

EngineError WorkingCopyDiskError(const std::string& folder) {
  return EngineError(3043, "Erreur de disque dans le dossier temporaire « " + folder +
                               " », où se fait la copie de travail de la base Access.");
}

EngineError StreamedValueLength(const std::string& path, const std::string& table, const std::string& column) {
  return EngineError(core::DamagedFile(path, "valeur du champ « " + column + " » de la table « " + table +
                                                 " » d'une autre longueur que celle annoncée"));
}

EngineError OutOfMemory() { return EngineError(3035, "Ressources système dépassées : mémoire insuffisante."); }

EngineError EngineFailure(const std::string& message) {
  return EngineError(3000, "Erreur du moteur de base de données : " + message);
}

EngineError NoTransaction() {
  return EngineError(3034, "Vous avez tenté de valider ou d'annuler une transaction sans l'avoir commencée.");
}

EngineError TooManyTransactions() {
  return EngineError(3003, "Impossible de démarrer la transaction ; trop de transactions déjà imbriquées.");
}

EngineError TransactionUndone(const EngineError& error) {
  return EngineError(error.Number(), error.Description() + " La transaction a été annulée.");
}

EngineError NoSuchTable(std::string_view name) {
  return EngineError(3265, "Élément non trouvé dans cette collection : la table « " + std::string(name) +
                               " » n'existe pas.");
}

EngineError SourceNotFound(std::int32_t number, std::string_view name) {
  return EngineError(number, "Le moteur de base de données ne peut pas trouver la table ou la "
                             "requête source « " + std::string(name) + " ».");
}

EngineError NoSuchItemAt(std::string_view what, int position) {
  return EngineError(3265, "Élément non trouvé dans cette collection : aucun " + std::string(what) +
                               " à la position " + std::to_string(position) + ".");
}

EngineError BadName(std::string_view name) {
  return EngineError(3125, "« " + std::string(name) +
                               " » n'est pas un nom correct : un nom de table, de champ ou d'index ne "
                               "peut pas contenir de crochet ([ ou ]).");
}

EngineError TableExists(const std::string& table) {
  return EngineError(3010, "La table « " + table + " » existe déjà.");
}

EngineError TooManyFields() {
  return EngineError(3190, "Trop de champs définis : une table a au plus 255 champs.");
}

EngineError FieldDefinedTwice(const std::string& field) {
  return EngineError(3191, "Impossible de définir le champ « " + field + " » plus d'une fois.");
}

EngineError NoSuchFieldInTable(const std::string& field, const std::string& table) {
  return EngineError(3264, "Le champ « " + field + " » n'existe pas dans la table « " + table + " ».");
}

EngineError IndexExists(const std::string& table, const std::string& index) {
  return EngineError(3375, "La table « " + table + " » a déjà un index nommé « " + index + " ».");
}

EngineError PrimaryKeyExists(const std::string& table) {
  return EngineError(3283, "La table « " + table + " » a déjà une clé primaire.");
}

EngineError NoSuchConstraint(const std::string& name) {
  return EngineError(3371, "Impossible de trouver la table ou la contrainte « " + name + " ».");
}

EngineError UnknownVerb() {
  return EngineError(3129, "Instruction SQL non valide ; 'DELETE', 'INSERT', 'SELECT', 'CREATE', "
                           "'ALTER' ou 'DROP' attendu.");
}

EngineError TextAfterEnd(const std::string& near) {
  return EngineError(3142, "Caractères trouvés après la fin de l'instruction SQL : « " + near + " ».");
}

EngineError ExpressionSyntax(const std::string& near) {
  return EngineError(3075, "Erreur de syntaxe dans l'expression « " + near + " ».");
}

EngineError MissingOperator(const std::string& near) {
  return EngineError(3075, "Erreur de syntaxe (opérateur absent) dans l'expression « " + near + " ».");
}

EngineError InvalidFieldType(std::string_view typeName) {
  return EngineError(3259, "Type de données de champ non valide : « " + std::string(typeName) + " ».");
}

EngineError StatementNotUtf8() {
  return EngineError(3464, "Type de données incompatible : le texte de l'instruction n'est pas un "
                           "texte UTF-8 valide.");
}

EngineError SelectNotExecutable() { return EngineError(3065, "Impossible d'exécuter une requête Sélection."); }

EngineError OnlySelectOpensRecordset() {
  return EngineError(3219, "Opération non valide : seule une requête SELECT ouvre un recordset.");
}

EngineError ValueCountMismatch() {
  return EngineError(3346, "Le nombre de valeurs de la requête et le nombre de champs de destination "
                           "sont différents.");
}

EngineError UnknownInsertField(const std::string& field) {
  return EngineError(3127, "L'instruction INSERT INTO contient le nom de champ inconnu « " + field + " ».");
}

EngineError TooFewParameters(const std::string& field, const std::string& table) {
  return EngineError(3061, "Trop peu de paramètres : le champ « " + field + " » n'existe pas dans la table « " +
                               table + " ».");
}

EngineError LiteralMismatch(const std::string& literal, const std::string& field) {
  return EngineError(3464, "Type de données incompatible dans l'expression du critère : la valeur « " + literal +
                               " » ne convient pas au champ « " + field + " ».");
}

EngineError ConversionFailed(std::string_view text, const std::string& field) {
  return EngineError(3421, "Erreur de conversion de type de données : « " + std::string(text) +
                               " » ne peut pas être converti pour le champ « " + field + " ».");
}

EngineError FieldTextNotUtf8(int position) {
  return EngineError(3421, "Erreur de conversion de type de données : le texte donné au champ n° " +
                               std::to_string(position) + " n'est pas un texte UTF-8 valide.");
}

EngineError NumericOverflow(const std::string& field) {
  return EngineError(3349, "Dépassement de capacité du champ numérique « " + field + " ».");
}

EngineError FieldTooSmall(const std::string& field) {
  return EngineError(3163, "Le champ « " + field + " » est trop petit pour accepter la quantité "
                           "de données que vous avez tenté d'ajouter.");
}

EngineError Duplicates() {
  return EngineError(3022, "Les modifications demandées n'ont pas été effectuées car elles créeraient "
                           "des doublons dans l'index, la clé primaire ou la relation.");
}

EngineError NullInIndex() {
  return EngineError(3058, "L'index ou la clé primaire ne peut pas contenir une valeur Null.");
}

EngineError NullInIndexField(const std::string& field) {
  return EngineError(3058, "L'index ou la clé primaire ne peut pas contenir une valeur Null (champ « " + field +
                               " »).");
}

EngineError RequiredFieldNull(const std::string& field) {
  return EngineError(3314, "Le champ « " + field + " » ne peut pas contenir une valeur Null.");
}

EngineError StoredValue(const std::string& table, const std::string& field, const std::string& type,
                        std::uint64_t row, const std::string& stored) {
  return EngineError(kErrStoredValue, "Erreur de conversion de type de données : dans la table « " + table +
                                          " », le champ « " + field + " » (" + type + ") de la ligne " +
                                          std::to_string(row) + " contient " + stored +
                                          ", qui ne convient pas à ce champ.");
}

EngineError NoCurrentRecord() { return EngineError(3021, "Aucun enregistrement en cours."); }

EngineError UpdateWithoutAddNew() {
  return EngineError(3020, "Mise à jour ou Annuler Mise à jour sans AddNew ni Edit.");
}

EngineError ReadOnlyRecordset() {
  return EngineError(3251, "Opération non prise en charge pour ce type d'objet : ce recordset est en lecture seule.");
}

EngineError DatabaseClosed() {
  return EngineError(3420, "Objet invalide ou n'est plus défini : la base de données a été fermée.");
}

EngineError TableRedefined(const std::string& table) {
  return EngineError(3420, "Objet invalide ou n'est plus défini : la table « " + table +
                               " » a été redéfinie depuis l'ouverture du recordset.");
}

}  // namespace dbengine::errors
