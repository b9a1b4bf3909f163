#pragma once

#include "ItemBase.h"

// Online video types from date.dat; loaded once for the life of the list.
class CSelectOnlineVideoType : public CItemBase
{
public:
    void Load(int key) override;
};

// The videos of one type from Data<type>.dat; every Load rereads the file and shows the first page.
class CSelectOnlineVideoList : public CItemBase
{
public:
    void Load(int typeId) override;
};

// Film stars in display order; loaded once for the life of the list.
class CMoiveStarList : public CItemBase
{
public:
    void Load(int key) override;
};

// The videos of one star.
class CSelectStarVideoList : public CItemBase
{
public:
    void Load(int starId) override;
};

// The addresses (episodes) of one video, in id order.
class CSelectOnlineVideoAddrList : public CItemBase
{
public:
    void Load(int videoId) override;
};
