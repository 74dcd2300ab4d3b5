var MswGifs = {};
