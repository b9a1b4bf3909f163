#pragma once

struct sqlite3;

// The cipher parameters of every catalogue, written down once: the builder writes with them and the program
// reads with them. They are set explicitly rather than taken from the library's defaults, which changed between
// SQLCipher 3 and 4 (page size, key derivation rounds, HMAC and KDF hashes), so a later library still opens
// today's catalogues. A library that does not know one of these pragmas (SQLCipher 3 has no hash choice and uses
// SHA-1) ignores it.
inline constexpr const char* kCatalogueCipherPragmas[] = {
    "PRAGMA cipher_page_size = 1024;",
    "PRAGMA kdf_iter = 64000;",
    "PRAGMA cipher_hmac_algorithm = HMAC_SHA1;",
    "PRAGMA cipher_kdf_algorithm = PBKDF2_HMAC_SHA1;",
};

// The tables a catalogue must hold.
inline constexpr const char* kCatalogueTables[]
    = { "tb_videogroup_list", "tb_video_addr_list", "tb_star_list", "tb_star_video_list" };

// Sets the parameters above on a connection whose key was just given; returns SQLite's result code.
int ApplyCatalogueCipher(sqlite3* db);
