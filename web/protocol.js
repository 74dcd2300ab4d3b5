var MswProto = {};
