// An independent evaluation of WHERE and ORDER BY for the engine's SQL tests: the rows come
// from mdb-reader (npm), the conditions are written as JSON trees and evaluated here with
// regular expressions and plain JavaScript comparisons, so nothing is shared with the engine.
//
//   node sql_oracle.mjs MDB_READER_ENTRY FILE TABLE QUERIES_FILE
//
// QUERIES_FILE holds a JSON array of {"where": W or null, "order": [[field, descending], ...]} with
//   W = {"or": [W, ...]} | {"and": [W, ...]} | {"not": W} | {"like": [field, pattern]}
//     | {"cmp": [field, op, value]} | {"isnull": field}
// For each query one line is printed: the IDs of the rows kept, in order, joined by ",".
import { readFileSync } from "node:fs";
import { pathToFileURL } from "node:url";

const [entry, file, tableName, queriesFile] = process.argv.slice(2);
const { default: MDBReader } = await import(pathToFileURL(entry).href);
const reader = new MDBReader(readFileSync(file));
const table = reader.getTable(tableName);
const columns = table.getColumns();
const typeOf = Object.fromEntries(columns.map((c) => [c.name, c.type]));
const rows = table.getData();

// Values as the SQL compares them: Yes/No as -1/0, Currency and Decimal as numbers.
function valueOf(row, field) {
  const v = row[field];
  if (v === null || v === undefined) return null;
  switch (typeOf[field]) {
    case "boolean": return v ? -1 : 0;
    case "currency": case "numeric": return parseFloat(v);
    default: return v;
  }
}

// LIKE as a regular expression: % any run, _ one code unit, [..] a list ([!..] negated),
// an unclosed [ itself; letters without case.
function likeRegex(pattern) {
  let out = "";
  for (let i = 0; i < pattern.length; i++) {
    const c = pattern[i];
    if (c === "%") {
      out += "[\\s\\S]*";
    } else if (c === "_") {
      out += "[\\s\\S]";
    } else if (c === "[" && pattern.indexOf("]", i + 1) >= 0) {
      const close = pattern.indexOf("]", i + 1);
      let body = pattern.slice(i + 1, close);
      i = close;
      if (body.length === 0) continue;
      let negated = false;
      if (body[0] === "!" && body.length > 1) {
        negated = true;
        body = body.slice(1);
      }
      let set = "";
      for (let j = 0; j < body.length; j++) {
        if (j + 2 < body.length && body[j + 1] === "-") {
          let [lo, hi] = [body[j], body[j + 2]];
          if (lo > hi) [lo, hi] = [hi, lo];
          set += "\\u" + lo.charCodeAt(0).toString(16).padStart(4, "0") + "-\\u" +
                 hi.charCodeAt(0).toString(16).padStart(4, "0");
          j += 2;
        } else {
          set += "\\u" + body.charCodeAt(j).toString(16).padStart(4, "0");
        }
      }
      out += (negated ? "[^" : "[") + set + "]";
    } else {
      out += "\\u" + c.charCodeAt(0).toString(16).padStart(4, "0");
    }
  }
  return new RegExp("^" + out + "$", "i");
}

function compare(a, b) {
  if (typeof a === "string" && typeof b === "string") {
    const x = a.toLowerCase(), y = b.toLowerCase();
    return x < y ? -1 : x > y ? 1 : 0;
  }
  return a < b ? -1 : a > b ? 1 : 0;
}

// Three-valued: true, false or null (unknown).
function evaluate(w, row) {
  if (w.or) {
    let result = false;
    for (const c of w.or) {
      const t = evaluate(c, row);
      if (t === true) return true;
      if (t === null) result = null;
    }
    return result;
  }
  if (w.and) {
    let result = true;
    for (const c of w.and) {
      const t = evaluate(c, row);
      if (t === false) return false;
      if (t === null) result = null;
    }
    return result;
  }
  if (w.not) {
    const t = evaluate(w.not, row);
    return t === null ? null : !t;
  }
  if (w.like) {
    const v = valueOf(row, w.like[0]);
    if (v === null) return null;
    if (!w.regex) w.regex = likeRegex(w.like[1]);
    return w.regex.test(String(v));
  }
  if (w.cmp) {
    const [field, op, literal] = w.cmp;
    const v = valueOf(row, field);
    if (v === null || literal === null) return null;
    const c = compare(v, literal);
    switch (op) {
      case "=": return c === 0;
      case "<>": return c !== 0;
      case "<": return c < 0;
      case ">": return c > 0;
      case "<=": return c <= 0;
      case ">=": return c >= 0;
    }
  }
  if (w.isnull !== undefined) return valueOf(row, w.isnull) === null;
  throw new Error("unknown condition " + JSON.stringify(w));
}

for (const query of JSON.parse(readFileSync(queriesFile, "utf8"))) {
  let kept = rows.filter((row) => query.where === null || evaluate(query.where, row) === true);
  const order = query.order || [];
  // Array.prototype.sort is stable; NULL sorts first.
  kept.sort((r, s) => {
    for (const [field, descending] of order) {
      const a = valueOf(r, field), b = valueOf(s, field);
      let c;
      if (a === null || b === null) c = a === null ? (b === null ? 0 : -1) : 1;
      else c = compare(a, b);
      if (c !== 0) return descending ? -c : c;
    }
    return 0;
  });
  console.log(kept.map((row) => row.ID).join(","));
}
