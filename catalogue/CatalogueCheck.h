#pragma once

#include <QString>

// Whether dataDir holds a catalogue the program can open: a keyed data.mdb with the catalogue's tables that opens
// with the catalogue key, a whole date.dat, and a whole Data<n>.dat for every type it names ("whole": the count is
// not negative and the file holds every record it counts). On false, why says what is wrong.
bool CheckCatalogueFolder(const QString& dataDir, QString* why);
