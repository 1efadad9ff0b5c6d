/**
 * True-size SVG pictures of traced lenses ({@link jtrazelo.svg.SvgWriter}): outline, box, centre,
 * drill holes and nasal and temporal sides, seen from the front.
 */
package jtrazelo.svg;
