// Prints what the independent reader mdb-reader finds in a Jet file, in the value
// conventions of our jetsql tool, so that tests can compare it with our engine line by line.
//
//   node dump.mjs FILE            → a JSON array of the user table names
//   node dump.mjs FILE TABLE      → line 1: the fields as JSON
//                                   [{"name":…,"type":…,"jetType":…,"size":…},…]
//                                   then one JSON array per row
import { readFileSync } from "node:fs";
import MDBReader from "mdb-reader";

const jetTypes = {
  boolean: "Boolean", byte: "Byte", integer: "Integer", long: "Long", currency: "Currency",
  float: "Single", double: "Double", datetime: "DateTime", binary: "Binary", text: "Text",
  ole: "OLE", memo: "Memo", repid: "ReplicationID", numeric: "Decimal",
};

// The field types the program's type table gives each Jet column type.
function fieldType(column) {
  switch (column.type) {
    case "text": return "ftWideString";
    case "memo": return "ftWideMemo";
    case "long": return column.autoLong ? "ftAutoInc" : "ftInteger";
    case "integer": return "ftSmallint";
    case "float": case "double": return "ftFloat";
    case "boolean": return "ftBoolean";
    case "datetime": return "ftDateTime";
    case "byte": return "ftByte";
    case "currency": return "ftCurrency";
    case "numeric": return "ftFMTBcd";
    case "repid": return "ftGuid";
    case "ole": return "ftBlob";
    case "binary": return "ftVarBytes";
    default: return "ftUnknown";
  }
}

const pad = (n, w) => String(n).padStart(w, "0");

// An exact decimal string: "-0…" becomes "0…"; Currency drops trailing zeros of the fraction.
function decimalText(text, trimFraction) {
  let s = text;
  if (/^-[0.]*$/.test(s)) s = s.slice(1);
  if (trimFraction && s.includes(".")) s = s.replace(/0+$/, "").replace(/\.$/, "");
  return s;
}

function number(v) {
  if (Number.isNaN(v)) return "NaN";
  if (v === Infinity) return "Infinity";
  if (v === -Infinity) return "-Infinity";
  return v;
}

function value(column, v) {
  if (v === null || v === undefined) return null;
  switch (column.type) {
    case "float": case "double": return number(v);
    case "currency": return decimalText(v, true);
    case "numeric": return decimalText(v, false);
    case "datetime": {
      const ms = v.getUTCMilliseconds();
      return `${pad(v.getUTCFullYear(), 4)}-${pad(v.getUTCMonth() + 1, 2)}-${pad(v.getUTCDate(), 2)}` +
        `T${pad(v.getUTCHours(), 2)}:${pad(v.getUTCMinutes(), 2)}:${pad(v.getUTCSeconds(), 2)}` +
        (ms ? `.${pad(ms, 3)}` : "");
    }
    case "binary": case "ole": return Buffer.from(v).toString("hex");
    case "repid": return `{${v.toUpperCase()}}`;
    default: return v;
  }
}

const [file, tableName] = process.argv.slice(2);
const reader = new MDBReader(readFileSync(file));
if (tableName === undefined) {
  console.log(JSON.stringify(reader.getTableNames()));
} else {
  const table = reader.getTable(tableName);
  const columns = table.getColumns();
  console.log(JSON.stringify(columns.map((c) => ({
    name: c.name, type: fieldType(c), jetType: jetTypes[c.type] ?? c.type, size: c.size,
  }))));
  for (const row of table.getData()) {
    console.log(JSON.stringify(columns.map((c) => value(c, row[c.name]))));
  }
}
