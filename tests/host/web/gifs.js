HostTestOrder.push('gifs');
