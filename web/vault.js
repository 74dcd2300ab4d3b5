var Vault = {};
