// Energy tables and terms added in bulk, from arrays.
//
// Each function has exactly the effect of the loop of single edits over its rows in row order
// (AddUnaryTerm, AddPairwiseTerm, AddHigherTerm, TermStore::AddTerm), wrap-around included: the
// same tables, term order, coefficients, occurrence lists and constant. It is faster than that
// loop because it finds terms through an index of its own and makes room in every occurrence list
// once (bulk_edit.cpp says how).
//
// Rows are arrays of int32: row r of an array with `width` columns is p[r*width .. r*width+width).
// Preconditions, as for the single edits: ids >= 0, 0 <= cliquesize <= 30, degree >= 1.
// Strong guarantee: when memory runs out (std::bad_alloc or std::length_error, which pass through)
// the function is left exactly as it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "pbf.h"

namespace pbf {

// AddUnaryTerm(ids[r], e0[r], e1[r]) for every row r < rows.
void AddUnaryTerms(PBF& f, size_t rows, const int32_t* ids, const int32_t* e0, const int32_t* e1);

// AddPairwiseTerm(i[r], j[r], e00[r], e01[r], e10[r], e11[r]) for every row r < rows.
void AddPairwiseTerms(PBF& f, size_t rows, const int32_t* i, const int32_t* j, const int32_t* e00,
                      const int32_t* e01, const int32_t* e10, const int32_t* e11);

// AddHigherTerm(cliquesize, row r of vars, row r of vals) for every row r < rows: vars has
// cliquesize columns, vals 2^cliquesize. With `shared_vals`, vals is one table used for every row.
void AddHigherTerms(PBF& f, size_t rows, int32_t cliquesize, const int32_t* vars,
                    const int32_t* vals, bool shared_vals);

// TermStore::AddTerm(coefs[r], degree, row r of ids) for every row r < rows: ids has `degree`
// columns. Like AddTerm it creates a missing term even when its coefficient is 0.
void AddTerms(PBF& f, size_t rows, int32_t degree, const int32_t* ids, const int32_t* coefs);

// The terms of one degree as arrays: `rows` terms, row r of ids (degree columns) and coefs[r].
struct TermBlock {
  int32_t degree = 0;
  size_t rows = 0;
  const int32_t* ids = nullptr;
  const int32_t* coefs = nullptr;
};

// Makes the table of every block's degree present, also for a block without rows, and adds the
// blocks' terms with AddTerms, highest degree first. Meant for building a function from the tables
// of another one: on a new function, blocks with distinct degrees and no repeated term within a
// block give those tables exactly, and occurrence lists in walk order, as compaction leaves them.
// Degrees must be distinct and >= 1. A failure may leave some of the blocks added.
void AddTermBlocks(PBF& f, std::span<const TermBlock> blocks);

}  // namespace pbf
