#!/usr/bin/env node
// Builds the offline basemap's data from Natural Earth's land at 1:50m
// (world-atlas, decoded with topojson-client), ready to draw: every ring of
// the land in Web Mercator coordinates of the unit square, so the map pages
// only read numbers at run time (no decoding, no garbage, a few ms).
//
//   node land_data.js <node_modules folder> <output file>
//
// Rings crossing the antimeridian (their points jump from +180 to -180) are
// unwrapped to run on past 180 or -180; a ring that comes back a whole turn
// from its start goes round a pole (Antarctica) and is closed along the
// map's edge at that pole. Segments that are no coastline (the data's cut
// along the antimeridian, the closing edge at the pole) are flagged so that
// they are not stroked. Rings wholly beyond the projection's end are left out.
//
// Output, little-endian:
//   uint32 magic "VLND", uint32 version 1, uint32 rings, uint32 points
//   uint32 points of each ring
//   float32 x, y of every point (x in turns of the world from -180, y from the top)
//   uint8 of every point: 1 when the segment ending at it is no coastline
'use strict';
const fs = require('fs');
const path = require('path');

const MAX_LAT = 85.0511287798;  // where the map's projection ends

function ring(lonLat) {
  const n = lonLat.length;
  const lons = new Array(n);
  const seams = new Uint8Array(n + 2);
  let shift = 0;
  for (let i = 0; i < n; i++) {
    const lon = lonLat[i][0];
    if (i > 0) {
      const prev = lonLat[i - 1][0];
      if (lon - prev > 180) shift -= 360;
      else if (lon - prev < -180) shift += 360;
      if (Math.abs(lon) >= 179.999 && lon === prev) seams[i] = 1;
    }
    lons[i] = lon + shift;
  }
  const xy = [];
  let latSum = 0;
  for (let i = 0; i < n; i++) {
    const lat = Math.max(-MAX_LAT, Math.min(MAX_LAT, lonLat[i][1]));
    const s = Math.sin((lat * Math.PI) / 180);
    xy.push((lons[i] + 180) / 360, 0.5 - Math.log((1 + s) / (1 - s)) / (4 * Math.PI));
    latSum += lat;
  }
  if (shift === 0) return { xy, seams: seams.subarray(0, n) };
  const edge = latSum < 0 ? 1 : 0;
  xy.push(xy[2 * n - 2], edge, xy[0], edge);
  seams[n] = seams[n + 1] = 1;
  return { xy, seams };
}

function main() {
  const [modulesArg, out] = process.argv.slice(2);
  const modules = modulesArg && path.resolve(modulesArg);
  if (!modules || !out) {
    console.error('usage: land_data.js <node_modules folder> <output file>');
    process.exit(2);
  }
  const topojson = require(path.join(modules, 'topojson-client'));
  const topo = JSON.parse(fs.readFileSync(path.join(modules, 'world-atlas', 'land-50m.json'), 'utf8'));
  const land = topojson.feature(topo, topo.objects.land);
  const geometry = land.type === 'FeatureCollection' ? land.features[0].geometry : land.geometry;
  const polygons = geometry.type === 'Polygon' ? [geometry.coordinates] : geometry.coordinates;
  const rings = [];
  for (const polygon of polygons)
    for (const r of polygon)
      if (r.some((p) => Math.abs(p[1]) < MAX_LAT)) rings.push(ring(r));
  const points = rings.reduce((sum, r) => sum + r.seams.length, 0);
  const head = new Uint32Array([0x444e4c56, 1, rings.length, points]);
  const sizes = new Uint32Array(rings.map((r) => r.seams.length));
  const xy = new Float32Array(2 * points);
  const seams = new Uint8Array(points);
  let at = 0;
  for (const r of rings) {
    xy.set(r.xy, 2 * at);
    seams.set(r.seams, at);
    at += r.seams.length;
  }
  fs.mkdirSync(path.dirname(out), { recursive: true });
  fs.writeFileSync(out, Buffer.concat([head, sizes, xy, seams].map((a) => Buffer.from(a.buffer))));
}

main();
