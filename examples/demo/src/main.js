'use strict';

const { greet } = require('./lib/greet');

console.log(greet('world'));
