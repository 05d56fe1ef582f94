-- Written by data/make-sample-rows.py; edit that program, not this file.
-- Older rows of patbase.mdb, replaced by an installation.

-- Conventions: 6 rows
INSERT INTO [Conventions] values('630950', 'RA1', 'STD', '1', '06671331', -1, 'Ancienne convention RA1 STD', 'Mutuelle du Pays Basque', '64000', 'Pau', '1', Null, 0, Null, '1', '38,25', '0,1', '1,15', '01/01/2019', '31/12/2019', '31/12/2019 23:59:59', 'Version d''origine, remplacée par l''installation des conventions de tests.', -1)
INSERT INTO [Conventions] values('870284', 'RA1', 'C2S', '3', '60293620', 0, 'Ancienne convention RA1 C2S', 'Union Mutualiste d''Aquitaine', '33000', 'Bordeaux', '1', '237', -1, '7', '1', '50,5', '0,1', '1,06', '01/01/2019', '31/12/2019', '31/12/2019 23:59:59', 'Version d''origine, remplacée par l''installation des conventions de tests.', -1)
INSERT INTO [Conventions] values('60387', 'LP1', 'C2S', '2', '567615507', -1, 'Ancienne convention LP1 C2S', 'Institution de Prévoyance du Bâtiment Sud', '31000', 'Toulouse', '1', '97', 0, '30', '1', '32', '0,1', '1,12', '01/01/2019', '31/12/2019', '31/12/2019 23:59:59', 'Version d''origine, remplacée par l''installation des conventions de tests.', -1)
INSERT INTO [Conventions] values('380549', 'LP1', 'MAT', '2', '38195652', 0, 'Ancienne convention LP1 MAT', 'Mutuelle Île-de-France Santé', '94000', 'Créteil', '1', '30', -1, '30', '1', '45', '0,1', '-0,3', '01/01/2019', '31/12/2019', '31/12/2019 23:59:59', 'Version d''origine, remplacée par l''installation des conventions de tests.', -1)
INSERT INTO [Conventions] values('100001', 'CM1', 'STD', '1', '99000001', 0, 'CMU complémentaire (clos)', 'Mutuelle dissoute', '75011', 'Paris', '5', '1', -1, '30', '0', Null, '1', Null, '01/01/2019', '31/10/2019', Null, Null, 0)
INSERT INTO [Conventions] values('100002', 'PH1', 'C2S', '2', '99000002', -1, 'Pharmacie provisoire', Null, Null, Null, Null, Null, 0, Null, '12,5', '0', '0,75', '1', '01/04/2019', Null, '01/04/2019 08:30:00', Null, -1)

-- CONVENTIONS_REGROUPEMENT: 4 rows
INSERT INTO [CONVENTIONS_REGROUPEMENT] values('05834799', 'LP1', 'AT', '510975', 'Ancien regroupement LP1', '1', '14', -1, Null, '0,999', '01/02/2019', '01/02/2020', Null)
INSERT INTO [CONVENTIONS_REGROUPEMENT] values('10043280', 'PH2', 'AT', '800357', 'Ancien regroupement PH2', '1', '17', -1, '121', '0,999', '01/02/2019', '01/02/2020', Null)
INSERT INTO [CONVENTIONS_REGROUPEMENT] values('99000001', 'CM1', 'STD', '100001', 'Regroupement CMU-C (clos)', '42', '1', 0, Null, '0', '01/01/2019', '31/10/2019', 'Clos.')
INSERT INTO [CONVENTIONS_REGROUPEMENT] values('99000002', 'PH1', 'C2S', '100002', 'Regroupement provisoire pharmacie', '43', '2', -1, '10,5', '0,05', '01/04/2019', Null, Null)

-- CONVENTIONS_TYPE: 4 rows
INSERT INTO [CONVENTIONS_TYPE] values('PH1', 'Ancien libellé PH1', 'Pharmacie', -1, '8', '4720', '50', '0,25', '1,08', '15/01/2019', '20/05/2019 09:00:00', 'Type remplacé en 2024.', -1)
INSERT INTO [CONVENTIONS_TYPE] values('PH2', 'Ancien libellé PH2', 'Pharmacie', 0, '4', '15657', '50', '0,25', '1,2', '15/01/2019', '20/05/2019 09:00:00', 'Type remplacé en 2024.', -1)
INSERT INTO [CONVENTIONS_TYPE] values('CM1', 'CMU complémentaire (ancien dispositif)', 'Tous domaines', -1, '1', '0', Null, '1', Null, '01/01/2019', '31/10/2019 18:00:00', 'La CMU-C a été remplacée par la complémentaire santé solidaire (C2S).', 0)
INSERT INTO [CONVENTIONS_TYPE] values('ACS', 'Aide au paiement d''une complémentaire santé', 'Tous domaines', 0, '2', '0', '550', '0,6', '1', '01/01/2019', Null, Null, 0)
