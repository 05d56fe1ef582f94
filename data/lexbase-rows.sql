-- Written by data/make-sample-rows.py; edit that program, not this file.
-- Older rows of lexbase.mdb, replaced by an installation.

-- CentreServicesAMC: 5 rows
INSERT INTO [CentreServicesAMC] values('05409693', '18', 'Ancien centre Nantes', '12 rue de l''Ancienne Poste', '44000', 'Nantes', '05 66 11 06 20', 'conventions@mutuelledelouest.fr', 0, '150', '15', '99', '0,5', '02/01/2019', '30/06/2019 17:45:00', 'Centre fermé ; dossiers transférés au siège.')
INSERT INTO [CentreServicesAMC] values('962147178', '11', 'Ancien centre Périgueux', '12 rue de l''Ancienne Poste', '24000', 'Périgueux', '02 46 26 42 44', 'conventions@mutuellefamilialeduperig.fr', 0, '150', '7', '99', '0,5', '02/01/2019', '30/06/2019 17:45:00', 'Centre fermé ; dossiers transférés au siège.')
INSERT INTO [CentreServicesAMC] values('53476412', '10', 'Ancien centre Clermont-Ferrand', '12 rue de l''Ancienne Poste', '63000', 'Clermont-Ferrand', '01 06 52 77 83', 'conventions@mutuelledesagentsterrito.fr', 0, '150', '7', '99', '0,5', '02/01/2019', '30/06/2019 17:45:00', 'Centre fermé ; dossiers transférés au siège.')
INSERT INTO [CentreServicesAMC] values('99000001', '10', 'Centre de gestion de la Mutuelle dissoute', Null, '75011', 'Paris', Null, Null, 0, '0', '30', Null, '0', '01/03/2019', '31/12/2020 23:59:59', 'Organisme radié du répertoire AMC.')
INSERT INTO [CentreServicesAMC] values('99000002', '20', 'Plateforme provisoire d''Orléans', '1 place du Martroi', '45000', 'Orléans', '02 38 00 00 00', Null, -1, '12', '15', '1', '0,25', '09/09/2019', Null, Null)

-- CORRESPONDANCE_MUTNUM_AMC: 4 rows
INSERT INTO [CORRESPONDANCE_MUTNUM_AMC] values('80314998', '05409693', 'Mutuelle de l''Ouest (ancienne dénomination)', '01', '1', 0, '1', '01/01/2019', '31/12/2020', 'Correspondance d''avant la fusion.')
INSERT INTO [CORRESPONDANCE_MUTNUM_AMC] values('45381537', '05409693', 'Mutuelle de l''Ouest (ancienne dénomination)', '01', '1', 0, '1', '01/01/2019', '31/12/2020', 'Correspondance d''avant la fusion.')
INSERT INTO [CORRESPONDANCE_MUTNUM_AMC] values('97916143', '962147178', 'Mutuelle Familiale du Périgord (ancienne dénomination)', '03', '1', 0, '1', '01/01/2019', '31/12/2020', 'Correspondance d''avant la fusion.')
INSERT INTO [CORRESPONDANCE_MUTNUM_AMC] values('00000001', '99000001', 'Mutuelle dissoute', '01', '1', 0, '1', '01/01/2019', '31/12/2019', Null)
