-- Written by data/make-sample-rows.py; edit that program, not this file.
-- Tables of the dictionary database lexbase.mdb (also in the source).

-- CentreServicesAMC
CREATE TABLE CentreServicesAMC (NumAMC TEXT(10) NOT NULL, CodeCentre SHORT NOT NULL, LibelleCentre TEXT(80) NOT NULL, Adresse TEXT(80), CodePostal TEXT(5), Ville TEXT(40), Telephone TEXT(14), Courriel TEXT(60), Actif BIT NOT NULL, NbAdherents LONG, DelaiPaiementJours SHORT, FraisGestion CURRENCY, TauxRejet DOUBLE, DateOuverture DATETIME, DateMaj DATETIME, Observations MEMO, CONSTRAINT PrimaryKey PRIMARY KEY (NumAMC, CodeCentre))

-- CORRESPONDANCE_MUTNUM_AMC
CREATE TABLE CORRESPONDANCE_MUTNUM_AMC (NumMutuelle TEXT(9) NOT NULL, NumAMC TEXT(10) NOT NULL, NomMutuelle TEXT(80) NOT NULL, CodeRegime TEXT(2), ModeTransmission BYTE, Teletransmission BIT NOT NULL, Priorite SHORT, DateDebut DATETIME, DateFin DATETIME, Commentaire MEMO, CONSTRAINT PrimaryKey PRIMARY KEY (NumMutuelle, NumAMC))
