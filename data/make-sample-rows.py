#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Writes the SQL scripts of the sample databases into this folder.

The sample databases are built by data/CMakeLists.txt from these scripts only;
this program is run by hand when the sample content changes, and its output is
committed beside it:

  schema-lexbase.sql  CREATE TABLE of the two dictionary tables
  schema-patbase.sql  CREATE TABLE of the three data tables
  source-rows.sql     rows of the five tables of CONVENTIONS_TEST_KVEL.mdb
  lexbase-rows.sql    older rows of the two dictionary tables (lexbase.mdb)
  patbase-rows.sql    older rows of the three data tables (patbase.mdb)

The source database uses both schema files, so its tables have exactly the
fields of their target tables.

Usage: python3 data/make-sample-rows.py [OUTPUT_FOLDER]   (default: this folder)

The output is deterministic: a fixed seed drives a small generator of our own
(SplitMix64), so it does not depend on the Python version. Every row is checked
before writing: key unique and free of Null, NOT NULL honoured, text within
its declared size, no "|" or line break, every character representable in
Windows-1252 (the code page of the transfer files).
"""

import os
import sys
import unicodedata

SEED = 0x4B56454C2024  # "KVEL" 2024

# ---------------------------------------------------------------------------
# Deterministic pseudo-random numbers.


class SplitMix64:
    def __init__(self, seed):
        self.state = seed & 0xFFFFFFFFFFFFFFFF

    def next(self):
        self.state = (self.state + 0x9E3779B97F4A7C15) & 0xFFFFFFFFFFFFFFFF
        z = self.state
        z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & 0xFFFFFFFFFFFFFFFF
        z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & 0xFFFFFFFFFFFFFFFF
        return z ^ (z >> 31)

    def below(self, n):
        return self.next() % n

    def between(self, low, high):  # both included
        return low + self.below(high - low + 1)

    def choice(self, items):
        return items[self.below(len(items))]

    def chance(self, percent):
        return self.below(100) < percent

    def shuffled(self, items):
        items = list(items)
        for i in range(len(items) - 1, 0, -1):
            j = self.below(i + 1)
            items[i], items[j] = items[j], items[i]
        return items


RNG = SplitMix64(SEED)

# ---------------------------------------------------------------------------
# Values in the statement dialect. Python values are turned into SQL text
# only here; None is Null.


class Dec:
    """An exact decimal: units / 10**scale, written the French way."""

    def __init__(self, units, scale):
        self.units, self.scale = units, scale

    def text(self):
        sign = "-" if self.units < 0 else ""
        digits = str(abs(self.units)).rjust(self.scale + 1, "0")
        whole, frac = digits[: len(digits) - self.scale], digits[len(digits) - self.scale:]
        frac = frac.rstrip("0")
        return sign + whole + ("," + frac if frac else "")


class When:
    def __init__(self, year, month, day, hour=0, minute=0, second=0):
        self.parts = (year, month, day, hour, minute, second)

    def text(self):
        y, mo, d, h, mi, s = self.parts
        out = f"{d:02d}/{mo:02d}/{y:04d}"
        if (h, mi, s) != (0, 0, 0):
            out += f" {h:02d}:{mi:02d}:{s:02d}"
        return out


def sql_value(value, coltype):
    if value is None:
        return "Null"
    if coltype == "BIT":
        return "-1" if value else "0"
    if coltype in ("BYTE", "SHORT", "LONG"):
        return f"'{value:d}'"
    if coltype in ("CURRENCY", "SINGLE", "DOUBLE"):
        return "'" + value.text() + "'"
    if coltype == "DATETIME":
        return "'" + value.text() + "'"
    return "'" + value.replace("'", "''") + "'"


# ---------------------------------------------------------------------------
# Tables.


class Table:
    def __init__(self, name, columns, key):
        self.name = name
        self.columns = columns  # (name, type, not_null)
        self.key = key

    def create_statement(self):
        cols = []
        for name, coltype, not_null in self.columns:
            cols.append(f"{name} {coltype}" + (" NOT NULL" if not_null else ""))
        cols.append("CONSTRAINT PrimaryKey PRIMARY KEY (" + ", ".join(self.key) + ")")
        return f"CREATE TABLE {self.name} (" + ", ".join(cols) + ")"

    def column_names(self):
        return [c[0] for c in self.columns]


def T(n):
    return f"TEXT({n})"


CENTRES = Table("CentreServicesAMC", [
    ("NumAMC", T(10), True),
    ("CodeCentre", "SHORT", True),
    ("LibelleCentre", T(80), True),
    ("Adresse", T(80), False),
    ("CodePostal", T(5), False),
    ("Ville", T(40), False),
    ("Telephone", T(14), False),
    ("Courriel", T(60), False),
    ("Actif", "BIT", True),
    ("NbAdherents", "LONG", False),
    ("DelaiPaiementJours", "SHORT", False),
    ("FraisGestion", "CURRENCY", False),
    ("TauxRejet", "DOUBLE", False),
    ("DateOuverture", "DATETIME", False),
    ("DateMaj", "DATETIME", False),
    ("Observations", "MEMO", False),
], ["NumAMC", "CodeCentre"])

CORRESPONDANCE = Table("CORRESPONDANCE_MUTNUM_AMC", [
    ("NumMutuelle", T(9), True),
    ("NumAMC", T(10), True),
    ("NomMutuelle", T(80), True),
    ("CodeRegime", T(2), False),
    ("ModeTransmission", "BYTE", False),
    ("Teletransmission", "BIT", True),
    ("Priorite", "SHORT", False),
    ("DateDebut", "DATETIME", False),
    ("DateFin", "DATETIME", False),
    ("Commentaire", "MEMO", False),
], ["NumMutuelle", "NumAMC"])

CONVENTIONS = Table("Conventions", [
    ("NumOrganismeSignataire", "LONG", True),
    ("TypeConvention", T(3), True),
    ("CritereSecondaire", T(10), True),
    ("TypeAccord", "SHORT", True),
    ("NumAMC", T(10), True),
    ("IndicateurConventionGroupee", "BIT", True),
    ("LibelleConvention", T(100), True),
    ("NomOrganisme", T(80), False),
    ("CodePostal", T(5), False),
    ("Ville", T(40), False),
    ("NumeroConvention", "LONG", False),
    ("CodeRoutage", "BYTE", False),
    ("TiersPayant", "BIT", True),
    ("DelaiPaiement", "SHORT", False),
    ("MontantPlafond", "CURRENCY", False),
    ("FraisDossier", "CURRENCY", False),
    ("TauxRemboursement", "DOUBLE", False),
    ("CoefficientCorrection", "SINGLE", False),
    ("DateDebutValidite", "DATETIME", False),
    ("DateFinValidite", "DATETIME", False),
    ("DateMiseAJour", "DATETIME", False),
    ("Observations", "MEMO", False),
    ("Active", "BIT", True),
], ["NumOrganismeSignataire", "TypeConvention", "CritereSecondaire", "TypeAccord",
    "NumAMC", "IndicateurConventionGroupee"])

REGROUPEMENT = Table("CONVENTIONS_REGROUPEMENT", [
    ("NumeroAMC", T(10), True),
    ("TypeConvention", T(3), True),
    ("CritereSecondaire", T(10), True),
    ("NumeroSignataire", "LONG", True),
    ("LibelleRegroupement", T(80), True),
    ("NumeroRegroupement", "LONG", False),
    ("OrdreTraitement", "SHORT", False),
    ("Prioritaire", "BIT", True),
    ("MontantForfait", "CURRENCY", False),
    ("TauxRemise", "DOUBLE", False),
    ("DateEffet", "DATETIME", False),
    ("DateFin", "DATETIME", False),
    ("Commentaire", "MEMO", False),
], ["NumeroAMC", "TypeConvention", "CritereSecondaire", "NumeroSignataire"])

TYPES = Table("CONVENTIONS_TYPE", [
    ("TypeConvention", T(3), True),
    ("Libelle", T(60), True),
    ("Domaine", T(40), False),
    ("TiersPayantIntegral", "BIT", True),
    ("NiveauPriorite", "SHORT", False),
    ("NbConventions", "LONG", False),
    ("PlafondAnnuel", "CURRENCY", False),
    ("TauxPriseEnCharge", "DOUBLE", False),
    ("CoefficientMajoration", "SINGLE", False),
    ("DateCreation", "DATETIME", False),
    ("DateMaj", "DATETIME", False),
    ("Description", "MEMO", False),
    ("Actif", "BIT", True),
], ["TypeConvention"])

DICTIONARY_TABLES = [CENTRES, CORRESPONDANCE]
DATA_TABLES = [CONVENTIONS, REGROUPEMENT, TYPES]
ALL_TABLES = DICTIONARY_TABLES + DATA_TABLES

# ---------------------------------------------------------------------------
# Reference data.

TOWNS = [
    ("Rennes", "35000"), ("Nantes", "44000"), ("Brest", "29200"), ("Quimper", "29000"),
    ("Caen", "14000"), ("Rouen", "76000"), ("Évreux", "27000"), ("Lille", "59000"),
    ("Amiens", "80000"), ("Compiègne", "60200"), ("Reims", "51100"), ("Metz", "57000"),
    ("Nancy", "54000"), ("Épinal", "88000"), ("Strasbourg", "67000"), ("Mulhouse", "68100"),
    ("Besançon", "25000"), ("Dijon", "21000"), ("Mâcon", "71000"), ("Auxerre", "89000"),
    ("Orléans", "45000"), ("Tours", "37000"), ("Châteauroux", "36000"), ("Bourges", "18000"),
    ("Poitiers", "86000"), ("Angoulême", "16000"), ("La Rochelle", "17000"),
    ("Limoges", "87000"), ("Périgueux", "24000"), ("Bordeaux", "33000"), ("Pau", "64000"),
    ("Toulouse", "31000"), ("Montauban", "82000"), ("Nîmes", "30000"),
    ("Montpellier", "34000"), ("Béziers", "34500"), ("Sète", "34200"),
    ("Perpignan", "66000"), ("Marseille", "13005"), ("Aix-en-Provence", "13100"),
    ("Toulon", "83000"), ("Nice", "06000"), ("Grenoble", "38000"), ("Chambéry", "73000"),
    ("Annecy", "74000"), ("Lyon", "69003"), ("Saint-Étienne", "42000"),
    ("Clermont-Ferrand", "63000"), ("Aurillac", "15000"), ("Le Puy-en-Velay", "43000"),
    ("Valence", "26000"), ("L'Haÿ-les-Roses", "94240"), ("Créteil", "94000"),
    ("Versailles", "78000"), ("Saint-Denis", "93200"), ("Paris", "75011"),
    ("Ajaccio", "20000"), ("Bastia", "20200"), ("Laval", "53000"), ("Le Mans", "72000"),
]

# (name, home town): fictitious complementary insurers.
INSURERS = [
    ("Mutuelle de l'Ouest", "Nantes"),
    ("Mutuelle Familiale du Périgord", "Périgueux"),
    ("Mutuelle des Agents Territoriaux d'Auvergne", "Clermont-Ferrand"),
    ("Prévoyance Santé Bretagne", "Rennes"),
    ("Mutuelle du Val de Loire", "Tours"),
    ("Mutuelle Saint-Éloi des Artisans", "Limoges"),
    ("Entraide Mutualiste Lorraine", "Nancy"),
    ("Mutuelle des Cheminots du Sud-Est", "Lyon"),
    ("Union Mutualiste d'Aquitaine", "Bordeaux"),
    ("Mutuelle Générale des Œuvres Sociales", "Paris"),
    ("Mutuelle Interprofessionnelle de Normandie", "Rouen"),
    ("Caisse Mutuelle Provençale", "Marseille"),
    ("Mutuelle des Enseignants de Franche-Comté", "Besançon"),
    ("Mutuelle Alpine Santé", "Grenoble"),
    ("Mutuelle Solidarité Côte d'Azur", "Nice"),
    ("Mutuelle du Pays Basque", "Pau"),
    ("Mutuelle Languedocienne de Prévoyance", "Montpellier"),
    ("Mutuelle des Hospitaliers de Lyon", "Lyon"),
    ("Mutuelle Champenoise", "Reims"),
    ("Mutuelle Santé Picardie", "Amiens"),
    ("Mutuelle Flandres-Artois", "Lille"),
    ("Mutuelle Alsacienne de l'Industrie", "Mulhouse"),
    ("Mutuelle Bourguignonne", "Dijon"),
    ("Mutuelle du Berry", "Bourges"),
    ("Mutuelle Charentaise", "Angoulême"),
    ("Mutuelle Limousine des Fonctionnaires", "Limoges"),
    ("Mutuelle Pyrénéenne", "Pau"),
    ("Mutuelle Catalane Solidaire", "Perpignan"),
    ("Mutuelle Corse de Prévoyance", "Ajaccio"),
    ("Mutuelle des Marins de Bretagne Sud", "Quimper"),
    ("Mutuelle Dauphinoise", "Valence"),
    ("Mutuelle Savoyarde", "Chambéry"),
    ("Mutuelle Forézienne", "Saint-Étienne"),
    ("Mutuelle Cévenole", "Nîmes"),
    ("Mutuelle Île-de-France Santé", "Créteil"),
    ("Mutuelle des Commerçants de Paris", "Paris"),
    ("Mutuelle Vendéenne", "La Rochelle"),
    ("Mutuelle Angevine", "Laval"),
    ("Mutuelle Mancelle", "Le Mans"),
    ("Mutuelle Orléanaise", "Orléans"),
    ("Mutuelle Mosellane", "Metz"),
    ("Mutuelle Vosgienne", "Épinal"),
    ("Mutuelle de l’Étang de Berre", "Aix-en-Provence"),
    ("Mutuelle Gersoise", "Montauban"),
    ("Mutuelle Biterroise", "Béziers"),
    ("Assurances Prévoyance Lamartine", "Mâcon"),
    ("Groupe de Prévoyance Colbert", "Versailles"),
    ("Institution de Prévoyance du Bâtiment Sud", "Toulouse"),
    ("Mutuelle Sétoise des Gens de Mer", "Sète"),
    ("Mutuelle Compiégnoise", "Compiègne"),
]

# Organisms that sign conventions with the practitioners (tiers payant operators).
SIGNATORIES = [
    (340127, "Réseau Tiers Payant Atlantique"),
    (750982, "Plateforme Santé Directe"),
    (690311, "Union des Gestionnaires Santé Rhône-Alpes"),
    (130456, "Sud Gestion Tiers Payant"),
    (590774, "Nord Santé Services"),
    (330215, "Aquitaine Télétransmission"),
    (670508, "Gestion Santé Rhin"),
    (310662, "Occitanie Tiers Payant"),
    (440193, "Groupement Loire-Atlantique Santé"),
    (350847, "Bretagne Gestion Mutualiste"),
    (210339, "Bourgogne Santé Services"),
    (760421, "Normandie Tiers Payant"),
    (630950, "Auvergne Gestion Santé"),
    (870284, "Limousin Mutualité Services"),
    (540716, "Lorraine Santé Gestion"),
    (60387, "Riviera Santé Tiers Payant"),
    (380549, "Isère Gestion Mutualiste"),
    (250163, "Comtois Santé Services"),
    (930871, "Francilienne de Tiers Payant"),
    (200044, "Corse Santé Gestion"),
    (450612, "Centre-Val de Loire Santé"),
    (860238, "Poitou Gestion Santé"),
    (510975, "Champagne Tiers Payant"),
    (800357, "Picardie Santé Services"),
]

# (code, label, field, full tiers payant)
CONVENTION_TYPES = []
for prefix, domain, label in [
    ("PH", "Pharmacie", "Pharmacie d'officine"),
    ("OP", "Optique", "Optique médicale"),
    ("DE", "Dentaire", "Soins et prothèses dentaires"),
    ("AU", "Audioprothèse", "Audioprothèse"),
    ("KI", "Kinésithérapie", "Masso-kinésithérapie"),
    ("IN", "Soins infirmiers", "Soins infirmiers à domicile"),
    ("LA", "Biologie", "Laboratoire d'analyses médicales"),
    ("RA", "Imagerie", "Radiologie et imagerie médicale"),
    ("HO", "Hospitalisation", "Hospitalisation (forfait journalier)"),
    ("MG", "Médecine générale", "Consultations de médecine générale"),
    ("SP", "Spécialistes", "Consultations de spécialistes"),
    ("TR", "Transport", "Transport sanitaire"),
    ("OR", "Orthophonie", "Orthophonie"),
    ("PO", "Podologie", "Pédicurie-podologie"),
    ("SF", "Maternité", "Sage-femme et maternité"),
    ("CU", "Cure thermale", "Cure thermale"),
    ("LP", "Matériel médical", "Matériel médical (LPP)"),
]:
    CONVENTION_TYPES.append((prefix + "1", label + " – part complémentaire", domain, False))
    CONVENTION_TYPES.append((prefix + "2", label + " – tiers payant intégral", domain, True))

CRITERIA = ["STD", "C2S", "ALD", "MAT", "AT", "ETU", "RET", "TNS"]
CRITERIA_LABELS = {
    "STD": "régime standard",
    "C2S": "complémentaire santé solidaire",
    "ALD": "affection de longue durée",
    "MAT": "maternité",
    "AT": "accident du travail",
    "ETU": "étudiants",
    "RET": "retraités",
    "TNS": "travailleurs non salariés",
}

STREETS = [
    "rue de la République", "avenue Jean-Jaurès", "boulevard Gambetta", "rue Victor-Hugo",
    "place du Général-de-Gaulle", "rue des Écoles", "allée des Tilleuls", "quai de la Fosse",
    "rue Pasteur", "avenue de la Gare", "rue du Château", "impasse des Forgerons",
    "rue Émile-Zola", "cours Mirabeau", "rue Sainte-Catherine", "chemin de l'Église",
]

SENTENCES = [
    "Prise en charge limitée au ticket modérateur.",
    "Le forfait « tiers payant » s’applique dès la première facture.",
    "Plafond annuel porté à 150 € par bénéficiaire.",
    "Convention renouvelée par tacite reconduction chaque 1er janvier.",
    "Les actes hors nomenclature sont exclus de l'accord.",
    "Dépassements d'honoraires remboursés à hauteur de 100 % du tarif de convention.",
    "Transmission des factures par flux NOEMIE ; retour sous 48 heures.",
    "Le bénéficiaire doit présenter sa carte de tiers payant en cours de validité.",
    "Accord signé avec le réseau de soins régional ; pièces justificatives à conserver deux ans.",
    "Révision tarifaire prévue après avis de la commission paritaire.",
    "Les ayants droit mineurs sont couverts sans formalité supplémentaire.",
    "Les frais de dossier sont prélevés une seule fois par exercice.",
    "En cas de rejet, le praticien reçoit un avis détaillé par courriel.",
    "Œuvre sociale : participation complémentaire pour les adhérents retraités.",
    "Télétransmission obligatoire ; les feuilles de soins papier sont refusées.",
    "La part obligatoire est versée par la caisse primaire, la part complémentaire par l’AMC.",
    "Délai de paiement garanti à dix jours ouvrés après réception.",
    "Les prothèses sont remboursées sur devis préalable accepté.",
    "Accord étendu aux départements d'outre-mer à compter du 1er juillet.",
    "Contact du gestionnaire : service conventions, bâtiment B, 2e étage.",
]


def memo(rng, low, high):
    picks = rng.shuffled(SENTENCES)[: rng.between(low, high)]
    return " ".join(picks)


def digits(rng, count, first_nonzero=True):
    out = str(rng.between(1, 9)) if first_nonzero else str(rng.between(0, 9))
    while len(out) < count:
        out += str(rng.between(0, 9))
    return out


def date_between(rng, first_year, last_year, with_time=False):
    year = rng.between(first_year, last_year)
    month = rng.between(1, 12)
    day = rng.between(1, 28)
    if with_time and rng.chance(85):
        return When(year, month, day, rng.between(7, 19), rng.between(0, 59), rng.between(0, 59))
    return When(year, month, day)


def later_date(rng, start, min_years, max_years):
    y, m, d = start.parts[:3]
    return When(min(y + rng.between(min_years, max_years), 2026), m, d)


def town_of(name):
    for town, postcode in TOWNS:
        if town == name:
            return town, postcode
    raise KeyError(name)


def phone(rng):
    return "0" + str(rng.between(1, 5)) + " " + " ".join(
        f"{rng.between(0, 99):02d}" for _ in range(4))


def email_of(label):
    plain = unicodedata.normalize("NFKD", label.lower()).encode("ascii", "ignore").decode()
    simple = "".join(ch for ch in plain if ch.isalnum())
    return f"conventions@{simple[:24]}.fr"


# ---------------------------------------------------------------------------
# Source rows.


def make_insurers(rng):
    """Each insurer gets an AMC number, 8 or 9 digits, some with a leading 0."""
    out, seen = [], set()
    for index, (name, town) in enumerate(INSURERS):
        while True:
            if index % 5 == 0:
                number = "0" + digits(rng, 7)           # 8 digits, leading zero
            elif index % 2 == 0:
                number = digits(rng, 8)
            else:
                number = digits(rng, 9)
            if number not in seen:
                break
        seen.add(number)
        out.append((number, name, town))
    return out


def make_centres(rng, insurers):
    rows = []
    for number, name, home in insurers:
        centre_count = rng.choice([1, 1, 1, 2])
        if rng.chance(10):
            centre_count = 3
        towns = [home] + [t for t, _ in rng.shuffled(TOWNS)[:centre_count]]
        for code_index in range(centre_count):
            town, postcode = town_of(towns[code_index])
            code = (code_index + 1) * 10 + rng.between(0, 9)
            kind = rng.choice(["Centre de gestion", "Centre de services tiers payant",
                               "Plateforme de remboursement", "Agence régionale"])
            opened = date_between(rng, 2019, 2024)
            rows.append([
                number, code, f"{kind} de {town}",
                None if rng.chance(8) else f"{rng.between(1, 180)} {rng.choice(STREETS)}",
                postcode, town,
                None if rng.chance(15) else phone(rng),
                None if rng.chance(30) else email_of(name),
                not rng.chance(12),
                None if rng.chance(10) else rng.between(800, 450000),
                rng.choice([5, 7, 10, 15, 21, 30]),
                None if rng.chance(20) else Dec(rng.between(0, 450) * 25, 4),
                Dec(rng.between(1, 900), 4) if rng.chance(90) else Dec(1, 5),
                opened,
                date_between(rng, max(opened.parts[0], 2022), 2026, with_time=True),
                None if rng.chance(45) else memo(rng, 1, 4),
            ])
    return rows


def make_correspondances(rng, insurers):
    rows, seen_mut = [], set()
    for number, name, _town in insurers:
        mut_count = 2 if rng.chance(25) else 1
        for _ in range(mut_count):
            while True:
                mut = digits(rng, 8, first_nonzero=False)
                if mut not in seen_mut:
                    break
            seen_mut.add(mut)
            start = date_between(rng, 2019, 2024)
            rows.append([
                mut, number, name,
                rng.choice(["01", "01", "01", "02", "03", "08", "10"]),
                rng.choice([1, 2, 2, 3, 4]),
                not rng.chance(10),
                rng.between(1, 5),
                start,
                later_date(rng, start, 1, 4) if rng.chance(20) else None,
                None if rng.chance(50) else memo(rng, 1, 2),
            ])
    # A mutual number that points at a second AMC (takeover of a portfolio).
    for row in rows[:6]:
        other = insurers[(insurers.index(next(i for i in insurers if i[0] == row[1])) + 7)
                         % len(insurers)]
        rows.append([row[0], other[0], row[2], row[3], 2, True, 9,
                     When(2025, 1, 1), None,
                     f"Reprise du portefeuille par {other[1]} au 1er janvier 2025."])
    return rows


def make_types(rng):
    rows = []
    for code, label, domain, full in CONVENTION_TYPES:
        created = date_between(rng, 2019, 2021)
        rows.append([
            code, label, domain, full,
            rng.between(1, 9),
            rng.between(0, 25000),
            None if rng.chance(25) else Dec(rng.between(20, 3000) * 100, 2),
            Dec(rng.choice([30, 35, 40, 60, 65, 70, 80, 100]), 2),
            None if rng.chance(20) else Dec(rng.between(100, 125), 2),
            created,
            date_between(rng, 2023, 2026, with_time=True),
            None if rng.chance(30) else memo(rng, 2, 6),
            not rng.chance(8),
        ])
    return rows


def make_regroupements(rng, insurers, count):
    rows, seen = [], set()
    while len(rows) < count:
        number, name, _ = rng.choice(insurers)
        code = rng.choice(CONVENTION_TYPES)[0]
        crit = rng.choice(CRITERIA)
        sign, sign_name = rng.choice(SIGNATORIES)
        key = (number, code, crit, sign)
        if key in seen:
            continue
        seen.add(key)
        start = date_between(rng, 2019, 2025)
        rows.append([
            number, code, crit, sign,
            f"Regroupement {code} {CRITERIA_LABELS[crit]} – {sign_name}"[:80],
            rng.between(1000, 99999),
            rng.between(1, 20),
            rng.chance(30),
            None if rng.chance(25) else Dec(rng.between(0, 800) * 50, 2),
            Dec(rng.between(0, 150), 3),
            start,
            later_date(rng, start, 1, 3) if rng.chance(30) else None,
            None if rng.chance(55) else memo(rng, 1, 3),
        ])
    return rows


def make_conventions(rng, insurers, count):
    rows, seen = [], set()
    while len(rows) < count:
        sign, sign_name = rng.choice(SIGNATORIES)
        code, label, _domain, full = rng.choice(CONVENTION_TYPES)
        crit = rng.choice(CRITERIA[:5]) if rng.chance(80) else rng.choice(CRITERIA)
        accord = rng.choice([1, 1, 2, 3])
        number, name, home = rng.choice(insurers)
        grouped = rng.chance(30)
        key = (sign, code, crit, accord, number, grouped)
        if key in seen:
            continue
        seen.add(key)
        town, postcode = town_of(home)
        start = date_between(rng, 2019, 2025)
        rows.append([
            sign, code, crit, accord, number, grouped,
            f"{label} ({CRITERIA_LABELS[crit]})"[:100],
            name, postcode, town,
            rng.between(100000, 2099999999),
            rng.between(0, 255) if rng.chance(85) else None,
            full or rng.chance(60),
            rng.choice([2, 5, 7, 10, 15, 30]) if rng.chance(90) else None,
            Dec(rng.between(500, 500000), 2),
            None if rng.chance(30) else Dec(rng.between(0, 300) * 25, 2),
            Dec(rng.between(10, 200) * 5, 3),
            None if rng.chance(15) else (Dec(rng.between(90, 130), 2) if rng.chance(90)
                                         else Dec(-rng.between(1, 50), 2)),
            start,
            later_date(rng, start, 1, 4) if rng.chance(40) else None,
            date_between(rng, 2024, 2026, with_time=True),
            None if rng.chance(40) else memo(rng, 1, 5),
            not rng.chance(10),
        ])
    return rows


# ---------------------------------------------------------------------------
# Older rows of the targets: some keys of the source with other values, some
# keys the source does not have. An installation replaces them all.


def older_centres(source):
    out = []
    for row in source[:3]:
        old = list(row)
        old[2] = "Ancien centre " + str(row[5])[:20]
        old[3] = "12 rue de l'Ancienne Poste"
        old[8] = False
        old[9] = 150
        old[11] = Dec(99, 0)
        old[12] = Dec(5, 1)
        old[13] = When(2019, 1, 2)
        old[14] = When(2019, 6, 30, 17, 45, 0)
        old[15] = "Centre fermé ; dossiers transférés au siège."
        out.append(old)
    out.append(["99000001", 10, "Centre de gestion de la Mutuelle dissoute", None, "75011",
                "Paris", None, None, False, 0, 30, None, Dec(0, 0), When(2019, 3, 1),
                When(2020, 12, 31, 23, 59, 59), "Organisme radié du répertoire AMC."])
    out.append(["99000002", 20, "Plateforme provisoire d'Orléans", "1 place du Martroi",
                "45000", "Orléans", "02 38 00 00 00", None, True, 12, 15, Dec(1, 0),
                Dec(25, 2), When(2019, 9, 9), None, None])
    return out


def older_correspondances(source):
    out = []
    for row in source[:3]:
        old = list(row)
        old[2] = row[2] + " (ancienne dénomination)"
        old[4] = 1
        old[5] = False
        old[6] = 1
        old[7] = When(2019, 1, 1)
        old[8] = When(2020, 12, 31)
        old[9] = "Correspondance d'avant la fusion."
        out.append(old)
    out.append(["00000001", "99000001", "Mutuelle dissoute", "01", 1, False, 1,
                When(2019, 1, 1), When(2019, 12, 31), None])
    return out


def older_types(source):
    out = []
    for row in source[:2]:
        old = list(row)
        old[1] = "Ancien libellé " + row[0]
        old[3] = not row[3]
        old[6] = Dec(50, 0)
        old[7] = Dec(25, 2)
        old[9] = When(2019, 1, 15)
        old[10] = When(2019, 5, 20, 9, 0, 0)
        old[11] = "Type remplacé en 2024."
        out.append(old)
    out.append(["CM1", "CMU complémentaire (ancien dispositif)", "Tous domaines", True, 1, 0,
                None, Dec(100, 2), None, When(2019, 1, 1), When(2019, 10, 31, 18, 0, 0),
                "La CMU-C a été remplacée par la complémentaire santé solidaire (C2S).", False])
    out.append(["ACS", "Aide au paiement d'une complémentaire santé", "Tous domaines", False, 2,
                0, Dec(550, 0), Dec(60, 2), Dec(1, 0), When(2019, 1, 1), None, None, False])
    return out


def older_regroupements(source):
    out = []
    for row in source[:2]:
        old = list(row)
        old[4] = "Ancien regroupement " + row[1]
        old[5] = 1
        old[7] = not row[7]
        old[9] = Dec(999, 3)
        old[10] = When(2019, 2, 1)
        old[11] = When(2020, 2, 1)
        old[12] = None
        out.append(old)
    out.append(["99000001", "CM1", "STD", 100001, "Regroupement CMU-C (clos)", 42, 1, False,
                None, Dec(0, 0), When(2019, 1, 1), When(2019, 10, 31), "Clos."])
    out.append(["99000002", "PH1", "C2S", 100002, "Regroupement provisoire pharmacie", 43, 2,
                True, Dec(1050, 2), Dec(5, 2), When(2019, 4, 1), None, None])
    return out


def older_conventions(source):
    out = []
    for row in source[:4]:
        old = list(row)
        old[6] = "Ancienne convention " + row[1] + " " + row[2]
        old[10] = 1
        old[12] = not row[12]
        old[14] = Dec(1, 0)
        old[16] = Dec(1, 1)
        old[18] = When(2019, 1, 1)
        old[19] = When(2019, 12, 31)
        old[20] = When(2019, 12, 31, 23, 59, 59)
        old[21] = "Version d'origine, remplacée par l'installation des conventions de tests."
        out.append(old)
    out.append([100001, "CM1", "STD", 1, "99000001", False, "CMU complémentaire (clos)",
                "Mutuelle dissoute", "75011", "Paris", 5, 1, True, 30, Dec(0, 0), None,
                Dec(1, 0), None, When(2019, 1, 1), When(2019, 10, 31), None, None, False])
    out.append([100002, "PH1", "C2S", 2, "99000002", True, "Pharmacie provisoire",
                None, None, None, None, None, False, None, Dec(125, 1), Dec(0, 0),
                Dec(75, 2), Dec(1, 0), When(2019, 4, 1), None,
                When(2019, 4, 1, 8, 30, 0), None, True])
    return out


# ---------------------------------------------------------------------------
# Checks and output.


def check_rows(table, rows):
    key_positions = [table.column_names().index(k) for k in table.key]
    seen = set()
    for row in rows:
        if len(row) != len(table.columns):
            raise SystemExit(f"{table.name}: {len(row)} values for {len(table.columns)} fields")
        for (name, coltype, not_null), value in zip(table.columns, row):
            if value is None:
                if not_null or name in table.key:
                    raise SystemExit(f"{table.name}.{name}: Null not allowed")
                continue
            if coltype.startswith("TEXT") or coltype == "MEMO":
                if not isinstance(value, str):
                    raise SystemExit(f"{table.name}.{name}: text expected, got {value!r}")
                if coltype.startswith("TEXT") and len(value) > int(coltype[5:-1]):
                    raise SystemExit(f"{table.name}.{name}: too long: {value!r}")
                if any(ch in value for ch in "|\r\n"):
                    raise SystemExit(f"{table.name}.{name}: separator or line break: {value!r}")
                value.encode("cp1252")
            elif coltype == "BYTE" and not 0 <= value <= 255:
                raise SystemExit(f"{table.name}.{name}: byte out of range")
            elif coltype == "SHORT" and not -32768 <= value <= 32767:
                raise SystemExit(f"{table.name}.{name}: integer out of range")
            elif coltype == "LONG" and not -2**31 <= value < 2**31:
                raise SystemExit(f"{table.name}.{name}: long out of range")
        key = tuple(row[p] for p in key_positions)
        if key in seen:
            raise SystemExit(f"{table.name}: duplicate key {key!r}")
        seen.add(key)


def insert_lines(table, rows):
    types = [c[1] for c in table.columns]
    for row in rows:
        values = ", ".join(sql_value(v, t) for v, t in zip(row, types))
        yield f"INSERT INTO [{table.name}] values({values})"


def write_script(path, header, blocks):
    with open(path, "w", encoding="utf-8", newline="\n") as out:
        for line in header:
            out.write(f"-- {line}\n")
        for comment, lines in blocks:
            out.write(f"\n-- {comment}\n")
            for line in lines:
                out.write(line + "\n")


GENERATED = "Written by data/make-sample-rows.py; edit that program, not this file."


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    rng = RNG

    insurers = make_insurers(rng)
    source = {
        CENTRES.name: make_centres(rng, insurers),
        CORRESPONDANCE.name: make_correspondances(rng, insurers),
        TYPES.name: make_types(rng),
        REGROUPEMENT.name: make_regroupements(rng, insurers, 72),
        CONVENTIONS.name: make_conventions(rng, insurers, 360),
    }
    older = {
        CENTRES.name: older_centres(source[CENTRES.name]),
        CORRESPONDANCE.name: older_correspondances(source[CORRESPONDANCE.name]),
        TYPES.name: older_types(source[TYPES.name]),
        REGROUPEMENT.name: older_regroupements(source[REGROUPEMENT.name]),
        CONVENTIONS.name: older_conventions(source[CONVENTIONS.name]),
    }
    for table in ALL_TABLES:
        check_rows(table, source[table.name])
        check_rows(table, older[table.name])

    write_script(os.path.join(folder, "schema-lexbase.sql"),
                 [GENERATED, "Tables of the dictionary database lexbase.mdb (also in the source)."],
                 [(t.name, [t.create_statement()]) for t in DICTIONARY_TABLES])
    write_script(os.path.join(folder, "schema-patbase.sql"),
                 [GENERATED, "Tables of the data database patbase.mdb (also in the source)."],
                 [(t.name, [t.create_statement()]) for t in DATA_TABLES])
    write_script(os.path.join(folder, "source-rows.sql"),
                 [GENERATED, "Rows of the source database CONVENTIONS_TEST_KVEL.mdb."],
                 [(f"{t.name}: {len(source[t.name])} rows",
                   insert_lines(t, source[t.name])) for t in ALL_TABLES])
    write_script(os.path.join(folder, "lexbase-rows.sql"),
                 [GENERATED, "Older rows of lexbase.mdb, replaced by an installation."],
                 [(f"{t.name}: {len(older[t.name])} rows",
                   insert_lines(t, older[t.name])) for t in DICTIONARY_TABLES])
    write_script(os.path.join(folder, "patbase-rows.sql"),
                 [GENERATED, "Older rows of patbase.mdb, replaced by an installation."],
                 [(f"{t.name}: {len(older[t.name])} rows",
                   insert_lines(t, older[t.name])) for t in DATA_TABLES])
    for table in ALL_TABLES:
        print(f"{table.name}: {len(source[table.name])} source rows, "
              f"{len(older[table.name])} older rows")


if __name__ == "__main__":
    main()
