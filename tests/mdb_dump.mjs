// Prints an Access database as the npm package mdb-reader reads it, for the
// tests to compare with Lumora's reader: one line per table, field and
// record, values tab-separated, tabs and line breaks inside escaped.
//   node mdb_dump.mjs MDB_READER_DIR FILE [CODEPAGE]
// CODEPAGE (e.g. gbk) re-reads Jet 3 text, which mdb-reader decodes as
// windows-1252 whatever the database's code page.
import { readFileSync } from "node:fs";
import { join } from "node:path";
import { pathToFileURL } from "node:url";

const [dir, file, codePage] = process.argv.slice(2);
const { default: MDBReader } = await import(pathToFileURL(join(dir, "lib/node/index.js")).href);
const reader = new MDBReader(readFileSync(file));
const cp1252 = "€\ufffd‚ƒ„…†‡ˆ‰Š‹Œ\ufffdŽ\ufffd\ufffd‘’“”•–—˜™š›œ\ufffdžŸ";

function retext(s) {
  if (!codePage) return s;
  const bytes = [];
  for (const ch of s) {
    const c = ch.codePointAt(0);
    const i = cp1252.indexOf(ch);
    bytes.push(c < 0x80 || c >= 0xa0 ? c : 0x80 + i);
  }
  return new TextDecoder(codePage).decode(Uint8Array.from(bytes));
}
const escape = (s) => s.replace(/\\/g, "\\\\").replace(/\t/g, "\\t").replace(/\n/g, "\\n").replace(/\r/g, "\\r");
const pad = (n) => String(n).padStart(2, "0");
function text(v) {
  if (v === null || v === undefined) return "\\N";
  if (typeof v === "boolean") return v ? "1" : "0";
  if (v instanceof Date) {
    v = new Date(Math.round(v.getTime() / 1000) * 1000); // to the second, as Lumora reads dates
    return `${v.getUTCFullYear()}-${pad(v.getUTCMonth() + 1)}-${pad(v.getUTCDate())} ${pad(v.getUTCHours())}:${pad(v.getUTCMinutes())}:${pad(v.getUTCSeconds())}`;
  }
  if (Buffer.isBuffer(v)) return v.toString("hex");
  if (typeof v === "string") return escape(retext(v));
  return String(v);
}
for (const name of reader.getTableNames()) {
  const table = reader.getTable(name);
  console.log(`TABLE\t${escape(retext(name))}`);
  const columns = table.getColumns();
  for (const c of columns) console.log(`FIELD\t${escape(retext(c.name))}\t${c.type}`);
  for (const row of table.getData()) console.log(`ROW\t${columns.map((c) => text(row[c.name])).join("\t")}`);
}
