'use strict';

exports.greet = (name) => `Hello, ${name}!`;
