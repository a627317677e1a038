// Fortune databases: the header a program includes.
//
//   Data/Fortune/Stats.hpp        FortuneStats, the summary of a set of fortunes
//   Data/Fortune/Index.hpp        index files: format, handle, entries, checks
//   Data/Fortune/FortuneFile.hpp  FortuneFile: a fortune text file with its index
//   Data/Fortune/Types.hpp        FortuneType, the kinds of fortune
//   Data/Fortune/SearchPath.hpp   where each kind of fortune is looked for
//   Data/Fortune/Locate.hpp       listing and finding fortune files
//   Data/Fortune/Open.hpp         opening fortune files for the span of an action
//   Data/Fortune/Traverse.hpp     mapping and filtering every entry of a file
//   Data/Fortune/Categorical.hpp  random variables and weighted distributions
//   Data/Fortune/Random.hpp       random selection of fortunes
//   Data/Fortune/Draw.hpp         drawFortune: one fortune in one call, a cheap header alone
//   Data/Fortune/Collection.hpp   Collection: the files a program draws from and searches,
//                                 kept open
//   Data/Fortune/Pattern.hpp      Pattern: the regular expressions a collection is searched
//                                 with
//   Data/Fortune/Strfile.hpp      the data files of the classic tools (strfile's FILE.dat)
//   Data/Fortune/Utf8.hpp         UTF-8 as the library reads it
//
// The installation directories live apart, in Paths_tallowmere.hpp.
#pragma once

#include <tallowmere/Data/Fortune/Categorical.hpp>
#include <tallowmere/Data/Fortune/Collection.hpp>
#include <tallowmere/Data/Fortune/Draw.hpp>
#include <tallowmere/Data/Fortune/FortuneFile.hpp>
#include <tallowmere/Data/Fortune/Index.hpp>
#include <tallowmere/Data/Fortune/Locate.hpp>
#include <tallowmere/Data/Fortune/Open.hpp>
#include <tallowmere/Data/Fortune/Pattern.hpp>
#include <tallowmere/Data/Fortune/Random.hpp>
#include <tallowmere/Data/Fortune/SearchPath.hpp>
#include <tallowmere/Data/Fortune/Stats.hpp>
#include <tallowmere/Data/Fortune/Strfile.hpp>
#include <tallowmere/Data/Fortune/Traverse.hpp>
#include <tallowmere/Data/Fortune/Types.hpp>
#include <tallowmere/Data/Fortune/Utf8.hpp>
