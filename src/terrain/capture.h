// Copying the snapshot out of an engine.
//
// Takes the engine-wide lock by polling (TerrainBudget's cancel flag and deadline end the wait),
// reads the five database counts one component at a time with a stop check between them, refuses a
// database with more Posits than `posits_scanned` before copying anything (`ResourceLimit` "posits
// scanned"), then holds the posit-to-set and posit-to-time indexes together while it copies one
// entry per Posit in ascending identity (a stop check every 1024 entries). Indexes whose sizes or
// keys disagree give `Internal` "Terrain capture found mismatched posit reverse indexes". Every lock
// is released before this returns; the snapshot reads no engine state afterwards.
#pragma once

#include "construct/engine.h"
#include "terrain/limits.h"
#include "terrain/snapshot.h"

namespace brackwater::terrain {

Result<TerrainSnapshot> capture_snapshot(construct::Engine& engine, const TerrainBudget& budget);

}  // namespace brackwater::terrain
