#pragma once

#include <vector>

#include <QString>

// Makes <appDir>/Data/data.mdb with the sqlcipher command-line shell (independent of our own code), keyed with
// key, holding the given SQL. Returns false when the shell failed.
bool MakeKeyedDatabase(const QString& appDir, const QString& key, const QString& sql);

// The data files of a catalogue of numbered rows under appDir: 12 video types "类型1".."类型12" (ids 1..12), and
// under type 3 25 videos "视频0".."视频24" (ids 500..524), video i with the page scroll offset offsets[i % size]
// (0 without). Returns false when they cannot be written.
bool WriteNumberedTypesAndVideos(const QString& appDir, const std::vector<int>& offsets = {});

// A small catalogue used by several suites: stars out of id order, addresses stored out of id order, NULL columns.
QString SampleCatalogueSql();

// The least catalogue TV output opens: one video type ("类型") and empty tables, under appDir.
bool MakeEmptyCatalogue(const QString& appDir);
