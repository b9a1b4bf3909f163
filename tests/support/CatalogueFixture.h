#pragma once

#include <QString>

// Makes <appDir>/Data/data.mdb with the sqlcipher command-line shell (independent of our own code), keyed with
// key, holding the given SQL. Returns false when the shell failed.
bool MakeKeyedDatabase(const QString& appDir, const QString& key, const QString& sql);

// A small catalogue used by several suites: stars out of id order, addresses stored out of id order, NULL columns.
QString SampleCatalogueSql();

// The least catalogue TV output opens: one video type ("类型") and empty tables, under appDir.
bool MakeEmptyCatalogue(const QString& appDir);
