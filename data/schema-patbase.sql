-- Written by data/make-sample-rows.py; edit that program, not this file.
-- Tables of the data database patbase.mdb (also in the source).

-- Conventions
CREATE TABLE Conventions (NumOrganismeSignataire LONG NOT NULL, TypeConvention TEXT(3) NOT NULL, CritereSecondaire TEXT(10) NOT NULL, TypeAccord SHORT NOT NULL, NumAMC TEXT(10) NOT NULL, IndicateurConventionGroupee BIT NOT NULL, LibelleConvention TEXT(100) NOT NULL, NomOrganisme TEXT(80), CodePostal TEXT(5), Ville TEXT(40), NumeroConvention LONG, CodeRoutage BYTE, TiersPayant BIT NOT NULL, DelaiPaiement SHORT, MontantPlafond CURRENCY, FraisDossier CURRENCY, TauxRemboursement DOUBLE, CoefficientCorrection SINGLE, DateDebutValidite DATETIME, DateFinValidite DATETIME, DateMiseAJour DATETIME, Observations MEMO, Active BIT NOT NULL, CONSTRAINT PrimaryKey PRIMARY KEY (NumOrganismeSignataire, TypeConvention, CritereSecondaire, TypeAccord, NumAMC, IndicateurConventionGroupee))

-- CONVENTIONS_REGROUPEMENT
CREATE TABLE CONVENTIONS_REGROUPEMENT (NumeroAMC TEXT(10) NOT NULL, TypeConvention TEXT(3) NOT NULL, CritereSecondaire TEXT(10) NOT NULL, NumeroSignataire LONG NOT NULL, LibelleRegroupement TEXT(80) NOT NULL, NumeroRegroupement LONG, OrdreTraitement SHORT, Prioritaire BIT NOT NULL, MontantForfait CURRENCY, TauxRemise DOUBLE, DateEffet DATETIME, DateFin DATETIME, Commentaire MEMO, CONSTRAINT PrimaryKey PRIMARY KEY (NumeroAMC, TypeConvention, CritereSecondaire, NumeroSignataire))

-- CONVENTIONS_TYPE
CREATE TABLE CONVENTIONS_TYPE (TypeConvention TEXT(3) NOT NULL, Libelle TEXT(60) NOT NULL, Domaine TEXT(40), TiersPayantIntegral BIT NOT NULL, NiveauPriorite SHORT, NbConventions LONG, PlafondAnnuel CURRENCY, TauxPriseEnCharge DOUBLE, CoefficientMajoration SINGLE, DateCreation DATETIME, DateMaj DATETIME, Description MEMO, Actif BIT NOT NULL, CONSTRAINT PrimaryKey PRIMARY KEY (TypeConvention))
