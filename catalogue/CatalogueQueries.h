#pragma once

#include <QString>

// The statements run on the catalogue, byte for byte (their trailing blanks included); "%d" is the key.
inline constexpr char kStarListSql[] = "select * from tb_star_list order by pos";
inline constexpr char kStarVideoListSql[]
    = "select * from tb_videogroup_list where id in(select videoid from tb_star_video_list where starid=%d) ";
inline constexpr char kVideoAddrListSql[] = "select * from tb_video_addr_list where videoid=%d order by id ";
inline constexpr char kAddressByIdSql[] = "select * from tb_video_addr_list where id=%d order by id ";

// A statement with its key formatted in plain signed decimal.
QString FormatStatement(const char* statement, int key);

// Fills *url with the web address of address record id; leaves it empty when there is no such record or the
// statement fails. Does nothing when url is null.
void LoadAddressUrl(int id, QString* url);
